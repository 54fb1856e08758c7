#pragma once

#include "emu/device.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <vector>

namespace vm::emu {

// How the emulator listens and answers. Zero switches a numeric fault off.
struct Options {
    QHostAddress host{QHostAddress::LocalHost};
    quint16 port = 4000;
    int frameLength = 34;
    int split = 0;            // reply in two writes, the first one of this many bytes
    int splitDelayMs = 50;    // pause between the two writes of a split reply
    int trickleMs = 0;        // write replies a byte at a time, this far apart
    bool merge = false;       // two status frames in one write
    int garbage = 0;          // this many random bytes instead of a frame
    int closeAfter = 0;       // close the connection after this many replies
    int delayMs = 0;          // wait this long before replying
    bool silent = false;      // never reply
    char firstByte = 'N';     // byte 0 of every status frame
    bool badChecksum = false; // 34-byte frames carry a checksum one too high
    bool ignoreSet = false;   // T requests leave the outputs as they are
    int outageAfter = 0;      // after this many replies (of all clients) the module goes away:
    int outageMs = 0;         // it drops every client and listens again only this much later
    Wiring wiring;            // inputs that follow an output, and whether the others stay low
};

// The most modules one emulator stands in for (--units).
inline constexpr int kMaxUnits = 1024;

struct ParsedOptions {
    enum class Outcome { Run, Help, Error };
    Outcome outcome = Outcome::Run;
    Options options; // the first module's
    // Every module, each with its own address or port and its own fault modes and wiring
    // (--units, --listen-each, --unit K:FLAGS); one for a plain emulator.
    std::vector<Options> units;
    QString text; // the help text, or what is wrong with the command line
};

// arguments[0] is the program name, as in QCoreApplication::arguments().
ParsedOptions parseOptions(const QStringList& arguments);

} // namespace vm::emu
