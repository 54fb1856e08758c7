#include "support/program_folder.h"

#include "log/logfile.h"

#include <QDir>
#include <QStandardPaths>

namespace vm::test {

bool useTemporaryProgramFolder(const QTemporaryDir& folder) {
    QStandardPaths::setTestModeEnabled(true);
    if (!folder.isValid())
        return false;
    vm::setProgramFolder(folder.path());
    return QDir(folder.path()).mkdir(QStringLiteral("Log"));
}

} // namespace vm::test
