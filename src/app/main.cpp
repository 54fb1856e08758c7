#include "app/application.h"
#include "probe/privilege.h"
#include "window/frmSim_3870.h"
#include "app/startup.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    if (const auto status = vm::answerInfoOptions(argc, argv))
        return *status;
    vm::confineRawSocketPrivilege();
    vm::prepareApplication();
    QApplication app(argc, argv);
    vm::setUpApplication();
    return basPing::Main([] { return std::make_unique<frmSim_3870>(); });
}
