// The yardstick for start-up time: an empty top-level window of the tool's size, built
// with the same compiler, flags and Qt libraries, shown the same way.

#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("empty window"));
    window.setFixedSize(744, 638);
    window.show();
    return QApplication::exec();
}
