#include "emu/device.h"

#include <utility>

namespace vm::emu {

namespace {

constexpr char kLow = '0';
constexpr char kHigh = '1';

void putLittleEndian(QByteArray& frame, quint32 value) {
    for (int shift = 0; shift < 32; shift += 8)
        frame.append(static_cast<char>((value >> shift) & 0xFFu));
}

// Edge arithmetic of one square wave; the waveform repeats every `period` ms.
struct Wave {
    const Device::Waveform& w;

    qint64 period() const {
        qint64 sum = 0;
        for (int i = 0; i < w.count; ++i)
            sum += w.phases[static_cast<size_t>(i)];
        return sum;
    }
    int risesPerPeriod() const { return w.count / 2; }

    // Offset of the k-th rising edge inside one period: the end of the k-th low phase.
    qint64 riseOffset(int k) const {
        qint64 offset = 0;
        for (int i = 0; i <= 2 * k; ++i)
            offset += w.phases[static_cast<size_t>(i)];
        return offset;
    }

    // Rising edges in [0, t].
    qint64 risesUpTo(qint64 t) const {
        if (t < 0)
            return 0;
        const qint64 pos = t % period();
        qint64 rises = (t / period()) * risesPerPeriod();
        for (int k = 0; k < risesPerPeriod(); ++k)
            if (riseOffset(k) <= pos)
                ++rises;
        return rises;
    }

    // Time of rising edge number `index` (0 is the first).
    qint64 riseTime(qint64 index) const {
        return (index / risesPerPeriod()) * period() +
               riseOffset(static_cast<int>(index % risesPerPeriod()));
    }

    char level(qint64 t) const {
        qint64 pos = t < 0 ? 0 : t % period();
        for (int i = 0; i < w.count; ++i) {
            pos -= w.phases[static_cast<size_t>(i)];
            if (pos < 0)
                return i % 2 == 0 ? kLow : kHigh;
        }
        return kLow;
    }
};

} // namespace

bool isFrameLength(int length) {
    return length == kShortFrame || length == kChecksumFrame || length == kGapFrame;
}

quint8 frameChecksum(const QByteArray& first33) {
    unsigned sum = 0;
    for (const char byte : first33)
        sum += static_cast<unsigned char>(byte);
    return static_cast<quint8>(sum & 0xFFu);
}

QByteArray buildStatusFrame(const Status& status, int length) {
    QByteArray frame;
    frame.reserve(length);
    frame.append('N');
    for (const char input : status.inputs)
        frame.append(input);
    for (const char output : status.outputs)
        frame.append(output);
    for (const quint32 counter : status.counters)
        putLittleEndian(frame, counter);
    if (length == kChecksumFrame) {
        frame.append(static_cast<char>(frameChecksum(frame)));
    } else if (length == kGapFrame) {
        for (const quint32 gap : status.gapTimes)
            putLittleEndian(frame, gap);
    }
    return frame;
}

const std::array<Device::Waveform, kInputs>& Device::waveforms() {
    // Different rates per input so that the counters drift apart; two inputs have
    // uneven low phases so their gap times alternate.
    static const std::array<Waveform, kInputs> table{{
        {{250, 250}, 2},
        {{400, 200, 800, 200}, 4},
        {{700, 300}, 2},
        {{1000, 500, 300, 200}, 4},
        {{2000, 1000}, 2},
        {{3500, 1500}, 2},
    }};
    return table;
}

Device::Device(Clock clock, Wiring wiring)
    : clock_(std::move(clock))
    , wiring_(wiring) {
    outputs_.fill(kLow);
}

qint64 Device::now() const {
    return clock_();
}

qint64 Device::risesUpTo(size_t input, qint64 t) const {
    if (wiring_.source[input] != Wiring::kNone)
        return wiredRises_[input];
    if (wiring_.still)
        return 0;
    return Wave{waveforms()[input]}.risesUpTo(t);
}

qint64 Device::riseTime(size_t input, qint64 index) const {
    if (wiring_.source[input] != Wiring::kNone)
        return wiredRiseTimes_[input][index == wiredRises_[input] - 1 ? 1 : 0];
    return Wave{waveforms()[input]}.riseTime(index);
}

char Device::level(size_t input, qint64 t) const {
    const int source = wiring_.source[input];
    if (source != Wiring::kNone)
        return outputs_[static_cast<size_t>(source)];
    if (wiring_.still)
        return kLow;
    return Wave{waveforms()[input]}.level(t);
}

Status Device::status() const {
    const qint64 t = now();
    Status s;
    for (size_t i = 0; i < kInputs; ++i) {
        s.inputs[i] = level(i, t);
        const qint64 rises = risesUpTo(i, t);
        const qint64 counted = rises - edgesAtReset_[i];
        s.counters[i] = static_cast<quint32>(counted);
        if (counted >= 2)
            s.gapTimes[i] = static_cast<quint32>(riseTime(i, rises - 1) - riseTime(i, rises - 2));
    }
    s.outputs = outputs_;
    return s;
}

void Device::setOutput(int channel, bool on) {
    const qint64 t = now();
    for (int i = 0; i < kOutputs; ++i) {
        if (channel >= 0 && channel != i)
            continue;
        char& output = outputs_[static_cast<size_t>(i)];
        // A low-to-high change is a rising edge of every input wired to this output.
        if (on && output == kLow) {
            for (size_t input = 0; input < kInputs; ++input) {
                if (wiring_.source[input] != i)
                    continue;
                ++wiredRises_[input];
                wiredRiseTimes_[input] = {wiredRiseTimes_[input][1], t};
            }
        }
        output = on ? kHigh : kLow;
    }
}

void Device::resetCounter(int channel) {
    const qint64 t = now();
    for (int i = 0; i < kCounters; ++i)
        if (channel < 0 || channel == i)
            edgesAtReset_[static_cast<size_t>(i)] = risesUpTo(static_cast<size_t>(i), t);
}

} // namespace vm::emu
