#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace vm::emu {

class Device;

constexpr int kRequestLength = 4;

// A request the module understands: NREQ, NT<channel><value> or NC<channel>0.
// channel is 0-based, or -1 for "A" (all channels).
struct Request {
    enum class Kind { Status, SetOutput, ResetCounter };
    Kind kind = Kind::Status;
    int channel = -1;
    bool on = false;
};

// One 4-byte unit as a request, or nothing when the module would not understand it.
std::optional<Request> parseRequest(const QByteArray& unit);

// Carries out a T or C request on the device; a status request changes nothing.
void applyRequest(Device& device, const Request& request);

// Cuts one client's byte stream into 4-byte units, keeping an incomplete tail for the
// next arrival, so a request split across TCP segments counts once it is complete.
class RequestBuffer {
public:
    QList<QByteArray> feed(const QByteArray& data);
    qsizetype pending() const { return buffer_.size(); }

private:
    QByteArray buffer_;
};

// "4E524551": two uppercase hexadecimal digits per byte, no separators.
QString hexText(const QByteArray& bytes);
// The bytes as text with every byte outside printable ASCII shown as '.'.
QString printableText(const QByteArray& bytes);

} // namespace vm::emu
