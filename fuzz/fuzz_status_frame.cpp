// Any byte string as one arrival from the module: the pure decoder keeps its length rule and
// its texts agree with the bytes, and the real DisplayData, in the tool's window with
// "List + File" chosen, shows exactly those texts, adds exactly one log line and appends the
// RECV entry to the daily log file.

#include "fuzz_text.h"
#include "link/device_link.h"
#include "link/protocol_qt.h"
#include "log/logfile.h"
#include "log/timestamp.h"
#include "protocol/decoder.h"
#include "support/link_window.h"
#include "toolkit/errorbox.h"
#include "window/frmSim_3870.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

using vm::fuzz::check;

// Entries after which the daily log file is removed, so that a long run stays small on disk.
constexpr int kEntriesPerFile = 20000;

struct Harness {
    QTemporaryDir programFolder;
    vm::test::LinkWindow ui; // its lines: those of one input
    QString dailyFile;
    int entries = 0;
};
Harness* harness = nullptr;

const std::string kStamp = "[09:15:02.047]";

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

quint32 littleEndian(const QByteArray& bytes, qsizetype offset) {
    quint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = value * 256 + quint8(bytes[offset + i]);
    return value;
}

QString hexOf(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex());
}

// The texts against the bytes, by another route than the decoder's own.
void checkTexts(const QByteArray& frame, const vm::StatusTexts& texts) {
    const QString shown = hexOf(frame);
    for (int k = 0; k < 6; ++k)
        check(texts.inputs[k] == vm::statusCharText(quint8(frame[1 + k])) &&
                  qt(texts.inputs[k]).size() == 1,
              "input text is the byte's one character", shown);
    for (int k = 0; k < 2; ++k)
        check(texts.outputs[k] == vm::statusCharText(quint8(frame[7 + k])) &&
                  qt(texts.outputs[k]).size() == 1,
              "output text is the byte's one character", shown);
    for (int i = 0; i < 6; ++i)
        check(qt(texts.counters[i]) == QString::number(littleEndian(frame, 9 + 4 * i)),
              "counter is the little-endian value in decimal", shown);
    check(texts.checkSum.has_value() == (frame.size() == 34), "checksum only in 34 bytes", shown);
    if (texts.checkSum) {
        const QString sum = qt(*texts.checkSum);
        bool hex = false;
        check(sum.toUInt(&hex, 16) == quint8(frame[33]) && hex && sum == sum.toUpper() &&
                  sum.size() <= 2 && (sum == u"0" || !sum.startsWith(u'0')),
              "checksum is the byte in unpadded uppercase hexadecimal", shown);
    }
    check(texts.gapTimes.has_value() == (frame.size() == 57), "gap times only in 57 bytes", shown);
    if (texts.gapTimes)
        for (int i = 0; i < 6; ++i)
            check(qt((*texts.gapTimes)[i]) == QString::number(littleEndian(frame, 33 + 4 * i)),
                  "gap time is the little-endian value in decimal", shown);

    const QString line = qt(vm::recvLine(kStamp, vm::byteView(frame)));
    check(line.size() == 22 + 2 * frame.size(), "RECV line is 22 + 2n characters", shown);
    check(line.startsWith(qt(kStamp) + QStringLiteral(" RECV : ")), "RECV line begins with stamp",
          shown);
    check(line.mid(22) == hexOf(frame).toUpper(), "RECV line holds every byte in hexadecimal",
          shown);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "qt.qpa.*=false");
    new QApplication(*argc, *argv); // lives as long as the process
    QStandardPaths::setTestModeEnabled(true);
    // A failing decoder step shows the error box: on any input that is a finding.
    vm::setErrorBoxHandler([](const QString& text) { vm::fuzz::fail("error box", text); });
    vm::setClock([] { return QDateTime(QDate(2024, 3, 1), QTime(9, 15, 2, 47), Qt::UTC); });
    harness = new Harness;
    if (!harness->programFolder.isValid())
        vm::fuzz::fail("no temporary folder", QString());
    vm::setProgramFolder(harness->programFolder.path());
    QDir().mkpath(vm::logFolder());
    harness->dailyFile = vm::logFolder() + QLatin1Char('/') +
                         vm::dailyLogFileName(vm::currentDateTime().toLocalTime().date());
    harness->ui.form->optLog[1]->click(); // "List + File", as a user picks it
    // Fonts and styles are set up on first use and kept for the process: do that here, so
    // that no input is blamed for them.
    for (const int length : {2, 33, 34, 57})
        harness->ui.link->DisplayData(QByteArray(length, '1'));
    QFile::remove(harness->dailyFile);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray frame(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString shown = hexOf(frame);
    const bool accepted = size == 33 || size == 34 || size == 57;

    // The pure decoder.
    check(vm::isStatusFrameLength(size) == accepted, "length rule", shown);
    const std::optional<vm::StatusTexts> texts = vm::statusTexts(vm::byteView(frame));
    check(texts.has_value() == accepted, "texts only for 33, 34 and 57 bytes", shown);
    if (texts)
        checkTexts(frame, *texts);

    // The real decoder on the controls.
    const frmSim_3870& view = *harness->ui.form;
    const qint64 fileBefore = QFileInfo(harness->dailyFile).size();
    harness->ui.lines.clear();
    harness->ui.form->cmdClear->click(); // List Clear: a full list would slow every input down
    harness->ui.link->DisplayData(frame);
    QCoreApplication::processEvents(); // what the window's loop does after each arrival
    check(harness->ui.lines.size() == 1, "one log line per arrival", shown);
    const QString newest = harness->ui.lines.value(0);
    const qint64 fileGrowth = QFileInfo(harness->dailyFile).size() - fileBefore;
    if (!texts) {
        check(newest == qt(vm::wrongLengthLine(size)), "wrong length line", shown);
        check(fileGrowth == 0, "nothing filed for a wrong length", shown);
        return 0;
    }
    const std::string line = vm::recvLine(kStamp, vm::byteView(frame));
    check(newest == qt(line), "RECV line in the list", shown);
    check(fileGrowth == qsizetype(vm::recvFileText(line).size()) + 2,
          "RECV entry in the daily file", shown);
    for (int k = 0; k < 6; ++k) {
        check(view.txt_Input[k]->text() == qt(texts->inputs[k]), "input field", shown);
        check(view.txtCounter[k]->text() == qt(texts->counters[k]), "counter field", shown);
        if (texts->gapTimes)
            check(view.txtGapTime[k]->text() == qt((*texts->gapTimes)[k]), "gap time field", shown);
    }
    for (int k = 0; k < 2; ++k)
        check(view.txt_Output[k]->text() == qt(texts->outputs[k]), "output field", shown);
    if (texts->checkSum)
        check(view.txt_CheckSum->text() == qt(*texts->checkSum), "checksum field", shown);

    if (++harness->entries % kEntriesPerFile == 0)
        QFile::remove(harness->dailyFile);
    return 0;
}
