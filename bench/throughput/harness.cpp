#include "harness.h"

#include "link/device_link.h"
#include "log/logfile.h"
#include "support/program_folder.h"
#include "toolkit/errorbox.h"
#include "window/application.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>

namespace vm::bench {

namespace {

// Runs the event loop until `done` or the deadline.
bool waitFor(const std::function<bool()>& done, int ms) {
    const QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

const QString kRecv = QStringLiteral(" RECV : ");

} // namespace

void useOffscreenPlatform() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    vm::prepareApplication(); // the event loop the tool itself runs on
}

double setUpProgram(const QString& description, double defaultSeconds) {
    vm::setUpApplication();
    vm::setErrorBoxHandler(
        [](const QString& text) { std::fprintf(stderr, "error box: %s\n", qPrintable(text)); });
    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    const QCommandLineOption seconds(
        QStringLiteral("seconds"),
        QStringLiteral("How long to run, in seconds (default %1).").arg(defaultSeconds),
        QStringLiteral("N"));
    parser.addOption(seconds);
    parser.process(QCoreApplication::arguments());
    if (!parser.isSet(seconds))
        return defaultSeconds;
    bool ok = false;
    const double value = parser.value(seconds).toDouble(&ok);
    if (!ok || value <= 0) {
        std::fprintf(stderr, "--seconds wants a positive number\n");
        return -1;
    }
    return value;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

WindowRun::WindowRun() = default;

WindowRun::~WindowRun() {
    window_.reset();
}

bool WindowRun::start(const QString& intervalText) {
    if (!vm::test::useTemporaryProgramFolder(programFolder_)) {
        std::fprintf(stderr, "cannot make a temporary program folder\n");
        return false;
    }
    emu_.outputFile = programFolder_.filePath(QStringLiteral("emulator.txt"));
    if (!emu_.startOnToolPort({QStringLiteral("--frame"), QStringLiteral("34")})) {
        std::fprintf(stderr, "cannot start the emulator %s\n",
                     qPrintable(vm::test::emulatorPath()));
        return false;
    }
    window_ = std::make_unique<frmSim_3870>();
    QObject::connect(window_->List1->model(), &QAbstractItemModel::rowsInserted, window_.get(),
                     [this](const QModelIndex&, int first, int last) {
                         for (int row = first; row <= last; ++row) {
                             const QString text = window_->List1->item(row)->text();
                             const QStringView rest = QStringView(text).mid(14);
                             if (rest.startsWith(kRecv))
                                 ++recvLines;
                             else if (rest.startsWith(u" SEND : "))
                                 ++sendLines;
                             else if (text.startsWith(u"Different responce data length"))
                                 ++wrongLengthLines;
                             else if (text.contains(u"Error!!") || text.contains(u"Failed!!"))
                                 ++errorLines;
                         }
                     });
    window_->txtDestIP->setText(QStringLiteral("127.0.0.1"));
    window_->txtDestPort->setText(QString::number(emu_.port));
    window_->show();
    window_->cmdConnect->click();
    if (!waitFor([this] { return window_->cmdDisconnect->isEnabled(); }, 5000)) {
        std::fprintf(stderr, "the window did not connect to the emulator\n");
        return false;
    }
    window_->optLog[1]->click();
    window_->optInterval[1]->click();
    window_->cboTime->setEditText(intervalText);
    window_->cmdSend->click();
    return true;
}

void WindowRun::runFor(double seconds, const std::function<void(int)>& everySecond) {
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer tick;
    int passed = 0;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (clock.elapsed() < qint64(seconds * 1000))
            everySecond(++passed);
    });
    tick.start(1000);
    QTimer::singleShot(qint64(seconds * 1000), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

void WindowRun::stop() {
    window_->cmdEnd->click();
    // Replies to the last requests are still on their way: wait until the counts settle.
    qint64 seen = -1;
    for (int round = 0; round < 20 && seen != recvLines + wrongLengthLines; ++round) {
        seen = recvLines + wrongLengthLines;
        waitFor([] { return false; }, 100);
    }
}

int WindowRun::listCount() const {
    return window_->List1->count();
}

QStringList WindowRun::fileFrames() const {
    QStringList frames;
    QDir logs(vm::logFolder());
    for (const QString& name : logs.entryList({QStringLiteral("*.txt")}, QDir::Files, QDir::Name)) {
        QFile file(logs.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const qsizetype at = line.indexOf(" RECV : ");
            if (at >= 0)
                frames << QString::fromLatin1(line.mid(at + kRecv.size()).trimmed());
        }
    }
    return frames;
}

QStringList WindowRun::emulatorFrames() {
    static const QRegularExpression reply(QStringLiteral(R"(REPLY \d+ bytes ([0-9A-F]+))"));
    QStringList frames;
    for (const auto& match : reply.globalMatch(emu_.output()))
        frames << match.captured(1);
    return frames;
}

double WindowRun::emulatorCpuSeconds() const {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(emu_.process.processId()));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // Fields after the command's closing parenthesis; utime and stime are the 12th and 13th.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

} // namespace vm::bench
