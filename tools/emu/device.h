#pragma once

// The emulated module's state and the status frames it answers with. The frames are built
// here, byte by byte, on purpose apart from the window's decoder (src/protocol/decoder.h):
// two independent readings of the frame layout, so that a fault in one shows up against the
// other in the tests. Only texts that are not the layout (the hexadecimal writer, the time
// stamp of the emulator's log) come from the protocol core.

#include <QByteArray>
#include <QtGlobal>

#include <array>
#include <functional>

namespace vm::emu {

constexpr int kInputs = 6;
constexpr int kOutputs = 2;
constexpr int kCounters = 6;

// The lengths of status frame the module can answer with: inputs, outputs and counters
// (33), the same plus a checksum byte (34), or the same plus six gap times (57).
constexpr int kShortFrame = 33;
constexpr int kChecksumFrame = 34;
constexpr int kGapFrame = 57;
bool isFrameLength(int length);

// One reading of the module. Inputs and outputs are the characters '0' and '1' as they
// travel in the frame; gap times are milliseconds.
struct Status {
    std::array<char, kInputs> inputs{};
    std::array<char, kOutputs> outputs{};
    std::array<quint32, kCounters> counters{};
    std::array<quint32, kCounters> gapTimes{};
};

// The checksum byte of a 34-byte frame: the sum of bytes 0 to 32 modulo 256.
quint8 frameChecksum(const QByteArray& first33);

// The status frame of the given length (33, 34 or 57): byte 0 'N', six input characters,
// two output characters, six little-endian counters, then the checksum byte (34) or six
// little-endian gap times (57).
QByteArray buildStatusFrame(const Status& status, int length);

// How the inputs are driven: an input wired to an output follows that output (a loop-back
// fixture); with `still`, the inputs that are not wired stay low instead of following
// their rhythm.
struct Wiring {
    static constexpr int kNone = -1;
    std::array<int, kInputs> source{kNone, kNone, kNone, kNone, kNone, kNone}; // output index
    bool still = false;
};

// The simulated module. Each input follows its own fixed square wave (alternating low and
// high phases, starting low at time 0), or the output it is wired to, or stays low; a
// counter counts the rising edges of its input since its last reset, and its gap time is
// the time between the last two of those edges (0 until there are two). Outputs keep what
// the last T command set.
class Device {
public:
    // Milliseconds on a monotonic scale; the device reads it whenever it is asked.
    using Clock = std::function<qint64()>;

    // Low and high phase lengths in ms, repeated: {low, high, low, high, ...}.
    static constexpr int kMaxPhases = 4;
    struct Waveform {
        std::array<int, kMaxPhases> phases{};
        int count = 0;
    };
    static const std::array<Waveform, kInputs>& waveforms();

    explicit Device(Clock clock, Wiring wiring = {});

    Status status() const;

    // channel -1 means all channels.
    void setOutput(int channel, bool on);
    void resetCounter(int channel);

private:
    qint64 now() const;
    // Rising edges of an input in [0, t], and the time of edge `index` (0 is the first).
    qint64 risesUpTo(size_t input, qint64 t) const;
    qint64 riseTime(size_t input, qint64 index) const;
    char level(size_t input, qint64 t) const;

    Clock clock_;
    Wiring wiring_;
    std::array<char, kOutputs> outputs_;
    // Edges of the wired inputs as they happened: how many, and when the last two were.
    std::array<qint64, kInputs> wiredRises_{};
    std::array<std::array<qint64, 2>, kInputs> wiredRiseTimes_{}; // {previous, last}
    // Count of edges of each input that were already there at its counter's last reset.
    std::array<qint64, kCounters> edgesAtReset_{};
};

} // namespace vm::emu
