#include "support/memory.h"

#include <QByteArray>
#include <QFile>
#include <QList>

namespace vm::test {

namespace {

qint64 statusKb(const QByteArray& key) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

qint64 residentKb() {
    return statusKb("VmRSS:");
}

qint64 peakResidentKb() {
    return statusKb("VmHWM:");
}

} // namespace vm::test
