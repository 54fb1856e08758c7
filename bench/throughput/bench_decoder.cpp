// bench_decoder: status frames per second through the decoder alone, from the bytes to the
// texts of the value boxes and the RECV line, for each frame length.

#include "link/decoder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <cstdio>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    // --seconds N: the time spent on each length (default 2).
    const QStringList args = QCoreApplication::arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--seconds"));
    const double seconds = at > 0 ? args.value(at + 1).toDouble() : 2;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: bench_decoder [--seconds N]\n");
        return 2;
    }
    const auto msPerLength = qint64(seconds * 1000);
    const QString stamp = QStringLiteral("[09:15:02.047]");

    for (const int length : {33, 34, 57}) {
        // A small ring of different frames, so that no result can be carried over.
        QList<QByteArray> frames;
        for (int i = 0; i < 64; ++i) {
            QByteArray frame(length, '\0');
            for (char& byte : frame)
                byte = char(QRandomGenerator::global()->bounded(256));
            frames << frame;
        }
        qint64 count = 0;
        qsizetype characters = 0;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < msPerLength) {
            for (int i = 0; i < 1000; ++i, ++count) {
                const QByteArray& frame = frames[count % frames.size()];
                const auto texts = vm::statusTexts(frame);
                characters += texts->counters[5].size() + vm::recvLine(stamp, frame).size();
            }
        }
        const double spent = clock.nsecsElapsed() / 1e9;
        std::printf("%d-byte frames    %.0f frames per s (%lld in %.1f s, %lld characters)\n",
                    length, count / spent, count, spent, qint64(characters));
    }
    return 0;
}
