// The whole tool against a module that misbehaves: arrivals of every length and content,
// a flood as fast as loopback goes, frames split and merged, connections reset in the middle
// of a frame and of a write. The window must never crash, never stop turning its event loop
// for long, keep its memory and its log list bounded, and log exactly what arrived.

#include "link/device_link.h"
#include "link/protocol_qt.h"
#include "link/winsock.h"
#include "log/logfile.h"
#include "log/loglist.h"
#include "protocol/arrival.h"
#include "protocol/decoder.h"
#include "support/emulator_process.h"
#include "support/memory.h"
#include "support/program_folder.h"
#include "support/stand_in_module.h"
#include "toolkit/errorbox.h"
#include "window/frmSim_3870.h"

#include <QComboBox>
#include <QHostAddress>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <memory>

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
constexpr bool kAddressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool kAddressSanitizer = false;
#endif

namespace {

using vm::test::StandInModule;

// The longest an event may wait in the window's thread before it is handled: the Send
// operation's connect wait of 1000 ms is the only block it has, plus a margin. The
// sanitizers make every step several times slower (a 64 KiB arrival of merged frames, 1900
// lines, takes about 0.1 s in the plain build and up to 0.8 s under them on a busy machine).
constexpr qint64 kMaxGapMs = kAddressSanitizer ? 4500 : 1500;

// Posts an event to the window's thread every 10 ms from a thread of its own and keeps the
// longest any of them waited to be handled: what a click or a key would wait. (A timer of the
// window's thread would not do: a busy loop runs its timers only when it has nothing else.)
class Pulse {
public:
    explicit Pulse(QObject* receiver)
        : receiver_(receiver) {
        timer_.moveToThread(&thread_);
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
            QMetaObject::invokeMethod(
                receiver_,
                [this, posted = std::chrono::steady_clock::now()] {
                    const auto waited = std::chrono::steady_clock::now() - posted;
                    longestMs_ = std::max<qint64>(
                        longestMs_,
                        std::chrono::duration_cast<std::chrono::milliseconds>(waited).count());
                },
                Qt::QueuedConnection);
        });
        QObject::connect(&thread_, &QThread::started, &timer_, [this] { timer_.start(10); });
        thread_.start();
    }
    ~Pulse() { stop(); }
    void stop() {
        if (!thread_.isRunning())
            return;
        QMetaObject::invokeMethod(
            &timer_, [this] { timer_.stop(); }, Qt::BlockingQueuedConnection);
        thread_.quit();
        thread_.wait();
        QCoreApplication::sendPostedEvents(receiver_); // the pings still on their way
    }
    qint64 longestMs() const { return longestMs_; }

private:
    QObject* receiver_;
    QThread thread_;
    QTimer timer_;
    qint64 longestMs_ = 0; // read and written on the receiver's thread only
};

QString unstamped(const QString& line) {
    return line.startsWith(u'[') ? line.mid(14) : line;
}

QString recvLine(const QByteArray& frame) {
    return QStringLiteral(" RECV : ") + QString::fromLatin1(frame.toHex().toUpper());
}

} // namespace

class WindowHostileTest : public QObject {
    Q_OBJECT
    QTemporaryDir programFolder_;
    std::unique_ptr<frmSim_3870> window_;
    std::unique_ptr<QSignalSpy> arrivals_;
    QStringList added_; // every line the log list received, past its limit too
    QStringList errorBoxes_;
    std::unique_ptr<Pulse> pulse_;

    void open(quint16 port) {
        window_ = std::make_unique<frmSim_3870>();
        connect(window_->List1->model(), &QAbstractItemModel::rowsInserted, this,
                [this](const QModelIndex&, int first, int last) {
                    for (int row = first; row <= last; ++row)
                        added_ << window_->List1->item(row)->text();
                });
        arrivals_ =
            std::make_unique<QSignalSpy>(window_->link->Winsock1, &vm::Winsock::DataArrival);
        window_->txtDestIP->setText(QStringLiteral("127.0.0.1"));
        window_->txtDestPort->setText(QString::number(port));
        window_->show();
    }
    // Opens the window on the module and connects it.
    bool openConnected(StandInModule& module) {
        open(module.port());
        window_->cmdConnect->click();
        return QTest::qWaitFor(
            [&] { return module.connected() && window_->cmdDisconnect->isEnabled(); },
            vm::test::kWaitMs);
    }
    // Presses Send with Repeat at the given interval.
    void startRepeat(const QString& interval) {
        window_->optInterval[1]->click();
        window_->cboTime->setEditText(interval);
        window_->cmdSend->click();
    }
    qsizetype stampedCount(const QString& text) const {
        return std::count_if(added_.begin(), added_.end(),
                             [&](const QString& line) { return line.mid(14) == text; });
    }
    qint64 arrivedBytes() const {
        qint64 sum = 0;
        for (const QList<QVariant>& arrival : *arrivals_)
            sum += arrival.at(0).toLongLong();
        return sum;
    }
    // The lines the decoder owes for the arrivals from `first` on, given the bytes they held.
    QStringList linesFor(qsizetype first, const QByteArray& bytes) const {
        QStringList lines;
        qsizetype offset = 0;
        for (qsizetype i = first; i < arrivals_->size(); ++i) {
            const auto n = qsizetype(arrivals_->at(i).at(0).toLongLong());
            const QByteArray piece = bytes.mid(offset, n);
            offset += n;
            if (n <= 1)
                continue;
            // Frames that came together are decoded one by one.
            for (const vm::ByteView frame : vm::splitArrival(vm::byteView(piece))) {
                if (vm::isStatusFrameLength(frame.size()))
                    lines << recvLine(vm::toQByteArray(frame));
                else
                    lines << QString::fromStdString(vm::wrongLengthLine(frame.size()));
            }
        }
        return lines;
    }

private slots:
    void initTestCase() {
        QVERIFY(vm::test::useTemporaryProgramFolder(programFolder_));
        vm::setErrorBoxHandler([this](const QString& text) { errorBoxes_ << text; });
    }
    void init() {
        added_.clear();
        pulse_ = std::make_unique<Pulse>(this);
    }
    void cleanup() {
        pulse_->stop();
        const qint64 longestMs = pulse_->longestMs();
        pulse_.reset();
        arrivals_.reset();
        window_.reset();
        QVERIFY2(longestMs < kMaxGapMs,
                 qPrintable(QStringLiteral("an event waited %1 ms").arg(longestMs)));
        QVERIFY2(errorBoxes_.isEmpty(), qPrintable(errorBoxes_.join(u'\n')));
    }

    // Each write of random bytes, of every length up to 2 KiB and then of lengths spread up
    // to 64 KiB, gives for each piece that arrives exactly the line of its length, or the
    // RECV line with its bytes; a single byte gives nothing.
    void arrivalsOfAnyLengthAndContent() {
        StandInModule module;
        QVERIFY(openConnected(module));
        QList<int> lengths;
        for (int n = 0; n <= 2048; ++n)
            lengths << n;
        for (int n = 2048 + 509; n < 65536; n += 509)
            lengths << n;
        lengths << 65535 << 65536;
        auto* random = QRandomGenerator::global();
        for (const int n : lengths) {
            QByteArray bytes(n, '\0');
            for (char& byte : bytes)
                byte = char(random->bounded(256));
            const qsizetype firstArrival = arrivals_->size();
            const qsizetype firstLine = added_.size();
            const qint64 before = arrivedBytes();
            module.write(bytes);
            QVERIFY(vm::test::waitUntil([&] { return arrivedBytes() - before == n; },
                                        [](int) {
                                            QCoreApplication::processEvents(
                                                QEventLoop::WaitForMoreEvents);
                                            return true;
                                        }));
            QStringList logged;
            for (qsizetype i = firstLine; i < added_.size(); ++i)
                logged << unstamped(added_[i]);
            QCOMPARE(logged, linesFor(firstArrival, bytes));
        }
        QCOMPARE(window_->List1->count(), vm::kLogListLimit + 1);
    }

    // Frames split and merged by the emulator's fault modes, and the emulator's own random
    // replies: each arrival is logged on its own, frames that came together one by one; Repeat
    // goes on through the module's closes.
    void emulatorFaultModes_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("expected");
        QTest::newRow("merged") << QStringList{"--merge"} << " RECV : 4E";
        QTest::newRow("split") << QStringList{"--split", "21", "--split-delay", "30"}
                               << "Different responce data length : 21 Bytes";
        QTest::newRow("random") << QStringList{"--garbage", "61"}
                                << "Different responce data length : 61 Bytes";
        QTest::newRow("closes") << QStringList{"--close-after", "2"} << " Socket Closed!!";
    }
    void emulatorFaultModes() {
        QFETCH(QStringList, args);
        QFETCH(QString, expected);
        vm::test::EmulatorProcess emulator;
        QVERIFY(emulator.startOnToolPort(args));
        open(emulator.port);
        startRepeat(QStringLiteral("0.1"));
        QTRY_VERIFY(std::count_if(added_.begin(), added_.end(), [&](const QString& line) {
                        return unstamped(line).startsWith(expected);
                    }) >= 3);
        window_->cmdEnd->click();
        QVERIFY(stampedCount(QStringLiteral(" Socket Connected!!")) >= 1);
    }

    // Random bytes, and status frames, as fast as loopback carries them: the event loop keeps
    // turning, every byte is read, memory stays bounded and the log list keeps its 1001 lines.
    void flood_data() {
        QTest::addColumn<StandInModule::Flood>("content");
        QTest::addColumn<int>("ms");
        QTest::newRow("random bytes") << StandInModule::Flood::RandomBytes << 2000;
        QTest::newRow("status frames") << StandInModule::Flood::StatusFrames << 1000;
    }
    void flood() {
        QFETCH(StandInModule::Flood, content);
        QFETCH(int, ms);
        StandInModule module;
        QVERIFY(openConnected(module));
        while (window_->List1->count() <= vm::kLogListLimit)
            window_->AddLog(QStringLiteral("before the flood"));
        pulse_ = std::make_unique<Pulse>(this); // the waits from here on are the window's
        const qint64 before = vm::test::residentKb();
        module.startFlood(ms, content);
        QTRY_VERIFY_WITH_TIMEOUT(module.floodDone(), 10000);
        const qint64 sent = module.floodBytes();
        QTRY_COMPARE_WITH_TIMEOUT(arrivedBytes(), sent, 10000);
        const qint64 grownKb = vm::test::residentKb() - before;
        qInfo("flood: %lld MB in %lld arrivals, RSS grew %lld kB, longest wait %lld ms", sent >> 20,
              qint64(arrivals_->size()), grownKb, pulse_->longestMs());
        QVERIFY(sent > (1 << 20));
        // The address sanitizer holds freed memory back in quarantine, so resident memory
        // says nothing about the tool there; the plain build checks it.
        if (!kAddressSanitizer)
            QVERIFY2(grownKb < 64 * 1024, qPrintable(QString::number(grownKb)));
        QCOMPARE(window_->List1->count(), vm::kLogListLimit + 1);
        QCOMPARE(window_->List1->currentItem()->text(), added_.last());
    }

    // A reset in the middle of a frame, of a long write, or after a run of frames that arrive
    // merged: what came is logged, the close is logged once, and the next Send connects again
    // and decodes a whole frame.
    void resetMidway_data() {
        QTest::addColumn<int>("length");
        QTest::newRow("mid-frame") << 20;
        QTest::newRow("mid-write") << 4 * 1024 * 1024;
        QTest::newRow("after merged frames") << 34 * 1900;
    }
    void resetMidway() {
        QFETCH(int, length);
        StandInModule module;
        QVERIFY(openConnected(module));
        const QByteArray bytes(length, 'N');
        module.writeThenReset(bytes);
        QTRY_COMPARE(stampedCount(QStringLiteral(" Socket Closed!!")), 1);
        QVERIFY(arrivedBytes() <= length);
        QVERIFY(window_->cmdConnect->isEnabled() && !window_->cmdEnd->isEnabled());
        // What came is logged in order, merged frames one line each, among the other lines.
        const QStringList owed = linesFor(0, bytes);
        qsizetype found = 0;
        for (const QString& line : std::as_const(added_))
            found += found < owed.size() && unstamped(line) == owed[found];
        QCOMPARE(found, owed.size());

        window_->cmdSend->click();
        QTRY_VERIFY(module.connected());
        const QByteArray frame(34, '1');
        module.write(frame);
        QTRY_COMPARE(added_.last().mid(14), recvLine(frame));
    }

    // The module resets the connection at each request while Repeat runs fast: the window
    // logs every close, reconnects on the next ticks, and its thread never waits long.
    void resetAtEveryRequest() {
        StandInModule module;
        module.setResetOnRequest(true);
        open(module.port());
        startRepeat(QStringLiteral("0.01"));
        QTRY_VERIFY(stampedCount(QStringLiteral(" Socket Closed!!")) >= 5);
        window_->cmdEnd->click();
        QVERIFY(stampedCount(QStringLiteral(" Socket Connected!!")) >= 5);
    }

    // A tick leaves its running timer alone, so that short periods keep their rhythm; a
    // press of Send arms it anew. (A precise timer, so that its remaining time is not rounded;
    // the event loop takes the clock for the timers when it turns, hence the short waits.)
    void tickKeepsTheRepeatTimer() {
        StandInModule module;
        QVERIFY(openConnected(module));
        QTimer* timer = window_->link->SendTimer;
        timer->setTimerType(Qt::PreciseTimer);
        startRepeat(QStringLiteral("10"));
        QTest::qWait(100);
        const int left = timer->remainingTime();
        window_->link->SendTimer_Timer();
        QTest::qWait(20);
        QVERIFY(timer->isActive());
        QVERIFY(timer->remainingTime() < left);
        window_->cmdSend->click();
        QTest::qWait(20);
        QVERIFY(timer->remainingTime() > left);
    }
};

QTEST_MAIN(WindowHostileTest)
#include "tst_window_hostile.moc"
