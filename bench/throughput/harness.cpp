#include "harness.h"

#include "link/device_link.h"
#include "link/winsock.h"
#include "log/logfile.h"
#include "support/program_folder.h"
#include "toolkit/errorbox.h"
#include "app/application.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDateTime>
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

#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

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

namespace {

constexpr char kA11yFlag[] = "--a11y";
// Set in the run inside the private session bus.
constexpr char kPrivateBusVariable[] = "VM_BENCH_PRIVATE_BUS";

} // namespace

std::optional<int> prepareProcess(int argc, char* argv[]) {
    const bool a11y = std::any_of(argv + 1, argv + argc,
                                  [](const char* arg) { return qstrcmp(arg, kA11yFlag) == 0; });
    if (a11y && !qEnvironmentVariableIsSet(kPrivateBusVariable)) {
        // A bus of our own, so that the bridge and the listener meet nobody else's programs;
        // it ends with this run.
        qputenv(kPrivateBusVariable, "1");
        std::vector<char*> args{const_cast<char*>("dbus-run-session"), const_cast<char*>("--")};
        args.insert(args.end(), argv, argv + argc);
        args.push_back(nullptr);
        execvp(args[0], args.data());
        std::perror("--a11y needs dbus-run-session (Debian package dbus-daemon)");
        return 1;
    }
    if (a11y) {
        if (qEnvironmentVariableIsEmpty("DISPLAY")) {
            std::fprintf(stderr, "--a11y needs an X display for the accessibility bridge: "
                                 "for example Xvfb :16 & DISPLAY=:16\n");
            return 2;
        }
        qputenv("QT_ACCESSIBILITY", "1");
        qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
        qputenv("QT_QPA_PLATFORM", "xcb");
    } else if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    vm::prepareApplication(); // the event loop the tool itself runs on
    return std::nullopt;
}

std::optional<Options> setUpProgram(const QString& description, double defaultSeconds,
                                    const QString& defaultInterval, bool offerA11y) {
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
    const QCommandLineOption interval(
        QStringLiteral("interval"),
        QStringLiteral("The repeat interval typed into the window (default %1).")
            .arg(defaultInterval),
        QStringLiteral("T"), defaultInterval);
    const QCommandLineOption load(
        QStringLiteral("load"),
        QStringLiteral("Keep both cores busy with two busy processes for the run."));
    const QCommandLineOption a11y(
        QString::fromLatin1(kA11yFlag + 2),
        QStringLiteral("Accessibility bridge on, with a listener as a screen reader (needs "
                       "DISPLAY, dbus-run-session, at-spi2-core and python3-pyatspi)."));
    parser.addOptions({seconds, interval, load});
    if (offerA11y)
        parser.addOption(a11y);
    parser.process(QCoreApplication::arguments());
    Options options{defaultSeconds, parser.value(interval), parser.isSet(load), parser.isSet(a11y)};
    if (parser.isSet(seconds)) {
        bool ok = false;
        options.seconds = parser.value(seconds).toDouble(&ok);
        if (!ok || options.seconds <= 0) {
            std::fprintf(stderr, "--seconds wants a positive number\n");
            return std::nullopt;
        }
    }
    return options;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double cpuSeconds(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // Fields after the command's closing parenthesis; utime and stime are the 12th and 13th.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

BusyLoad::BusyLoad(int processes, double seconds) {
    startMs_ = QDateTime::currentMSecsSinceEpoch();
    for (int i = 0; i < processes; ++i) {
        const pid_t pid = fork();
        if (pid != 0) {
            if (pid > 0)
                pids_.push_back(pid);
            continue;
        }
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const time_t end = now.tv_sec + time_t(seconds) + 1;
        volatile unsigned long work = 0;
        while (now.tv_sec < end) {
            for (int spin = 0; spin < 100000; ++spin)
                work = work + 1;
            clock_gettime(CLOCK_MONOTONIC, &now);
        }
        _exit(0);
    }
}

BusyLoad::~BusyLoad() {
    for (const pid_t pid : pids_) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

double BusyLoad::busyPercent() const {
    if (pids_.empty())
        return 0;
    double total = 0;
    for (const pid_t pid : pids_)
        total += std::max(0.0, cpuSeconds(pid));
    const double elapsed = double(QDateTime::currentMSecsSinceEpoch() - startMs_) / 1000;
    return 100 * total / double(pids_.size()) / elapsed;
}

AccessibilityListener::~AccessibilityListener() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

bool AccessibilityListener::start() {
    // The system's interpreter: pyatspi comes as a Debian package.
    process_.start(QStringLiteral("/usr/bin/python3"),
                   {QStringLiteral(VM_BENCH_SOURCE_DIR "/a11y_listener.py")});
    if (!waitFor(
            [this] { return process_.canReadLine() || process_.state() == QProcess::NotRunning; },
            20000) ||
        process_.readLine().trimmed() != "ready") {
        std::fprintf(stderr, "the accessibility listener did not start: %s\n",
                     process_.readAllStandardError().constData());
        return false;
    }
    // The bridge learns of the listener's subscriptions from the registry's signals.
    waitFor([] { return false; }, 1000);
    return true;
}

QString AccessibilityListener::stop(QString* lastLine) {
    process_.terminate();
    // A listener that fell behind first works through the events still queued for it.
    process_.waitForFinished(120000);
    QString report;
    for (const QString& line : QString::fromUtf8(process_.readAllStandardOutput()).split(u'\n')) {
        if (line.startsWith(u"last line "))
            *lastLine = line.mid(10);
        else if (!line.isEmpty())
            report += QStringLiteral("                 %1\n").arg(line);
    }
    if (process_.state() != QProcess::NotRunning)
        report += QStringLiteral("                 (still busy after 120 s)\n");
    return report;
}

FrameCheck checkFrames(const QStringList& sent, const QStringList& filed) {
    FrameCheck check;
    for (qsizetype i = 0; i < std::max(sent.size(), filed.size()); ++i) {
        if (sent.value(i) != filed.value(i)) {
            check.firstDifference = i;
            break;
        }
    }
    check.match = check.firstDifference < 0;
    qsizetype matched = 0;
    for (qsizetype i = 0; i < sent.size() && matched < filed.size(); ++i) {
        if (sent[i] == filed[matched])
            ++matched;
    }
    check.inOrderSubset = matched == filed.size();
    return check;
}

FrameCheck printDelivery(WindowRun& run) {
    const QStringList sent = run.emulatorFrames();
    const QStringList filed = run.fileFrames();
    const FrameCheck check = checkFrames(sent, filed);
    std::printf("requests sent    %lld (SEND lines)\n", run.sendLines);
    std::printf("replies sent     %lld by the emulator\n", qint64(sent.size()));
    std::printf("RECV             %lld lines in the list, %lld entries in the daily file\n",
                run.recvLines, qint64(filed.size()));
    std::printf("wrong length     %lld lines, errors %lld\n", run.wrongLengthLines, run.errorLines);
    std::printf("read together    %lld arrivals of more than one reply\n", run.togetherArrivals);
    if (check.match) {
        std::printf("daily file       every reply once and in order\n");
    } else {
        std::printf("daily file       MISMATCH at reply %lld: emulator \"%s\", file \"%s\"; the "
                    "file %s the emulator's replies in order with %lld left out\n",
                    qint64(check.firstDifference), qPrintable(sent.value(check.firstDifference)),
                    qPrintable(filed.value(check.firstDifference)),
                    check.inOrderSubset ? "holds" : "does NOT hold",
                    qint64(sent.size() - filed.size()));
    }
    return check;
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
    // Longer than the longest status frame: replies that were read together.
    QObject::connect(window_->link->Winsock1, &vm::Winsock::DataArrival, window_.get(),
                     [this](qint64 bytes) { togetherArrivals += bytes > 57 ? 1 : 0; });
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

QString WindowRun::newestLine() const {
    const int count = window_->List1->count();
    return count > 0 ? window_->List1->item(count - 1)->text() : QString();
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
    return cpuSeconds(pid_t(emu_.process.processId()));
}

} // namespace vm::bench
