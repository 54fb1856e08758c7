#pragma once

// What the window's behaviour asks of a platform. A front end (Qt on Linux, Win32 on Windows)
// implements these small interfaces and hands them to the form in one Platform; the form never
// reaches the platform any other way. Every call is made on the window's one thread, and every
// event a port reports (a connect, a close, data, a failed attempt, a timer tick) is delivered
// by the front end's event loop one at a time, never inside a running handler.
// Texts are UTF-8.

#include "protocol/bytes.h"
#include "protocol/timestamp.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vm::form {

// The TCP client the device link holds (one connection at a time). Its events go to the
// form's Winsock1_Connect, Winsock1_Close, Winsock1_DataArrival and Winsock1_Error:
// - connect: the connection asked for by the last Connect is up;
// - close: the peer closed (or reset) a connection whose connect event was delivered; a
//   Close() called by the program raises no event, and neither does the destruction;
// - data: one read from the connection of at most loglines::kMaxArrivalBytes (64 KiB, in
//   protocol/loglines.h), delivered whole (never gathered with the next read nor split), in
//   order, before that connection's close event;
// - failure: the attempt failed (refused, unreachable, host not found, timed out) with the
//   system's reason. Events of an attempt that Close() or a new Connect() abandoned before its
//   connect event was delivered are dropped.
class TcpClient {
public:
    // State() values; the form only tells kConnected from the rest.
    static constexpr int kClosed = 0;
    static constexpr int kResolving = 1;
    static constexpr int kConnecting = 2;
    static constexpr int kConnected = 7;
    static constexpr int kClosing = 8;
    static constexpr int kError = 9;

    virtual ~TcpClient() = default;

    virtual int State() const = 0;
    // Closes any current attempt or connection (as Close() does, without its event), then
    // starts connecting to host:port from a port the system chooses. Returns at once; a host
    // name is looked up without blocking the window's thread. The outcome is an event.
    virtual void Connect(const std::string& host, int port) = 0;
    // Closes the connection or abandons the attempt, with no event. Returns true when the peer
    // had closed the connection first and its close event is still on its way (the form then
    // lets that event give the one " Socket Closed!!" line).
    virtual bool Close() = 0;
    // Blocks the window's thread, without delivering any event, until the pending attempt
    // (its name look-up included) is connected or has failed, or `wait` has passed; an attempt
    // still pending then is ended, and its failure event follows. Returns State() == kConnected.
    virtual bool WaitForConnect(std::chrono::milliseconds wait) = 0;
    // Writes the bytes at once. Returns false with LastError() set when not connected or when
    // the write fails; a connection lost in the write raises its close event later.
    virtual bool SendData(ByteView bytes) = 0;
    virtual std::string LastError() const = 0;
};

// A window timer. While started it raises one tick per interval on the window's thread (the
// front end calls the form's SendTimer_Timer or PingTimer_Timer); ticks that fall due while
// the thread is busy merge into one. Start() on a running timer starts its count again.
class TimerPort {
public:
    virtual ~TimerPort() = default;
    virtual void Start(std::chrono::milliseconds interval) = 0;
    virtual void Stop() = 0;
};

// A calendar date.
struct Date {
    int year = 1970; // e.g. 2024
    int month = 1;   // 1-12
    int day = 1;     // 1-31
};

// The system clock: the UTC time of day for time stamps, the local date for the daily file.
class ClockPort {
public:
    virtual ~ClockPort() = default;
    virtual TimeOfDay UtcTimeOfDay() = 0;
    virtual Date LocalDate() = 0;
};

// The per-user settings store, under the application name and section of
// protocol/settings.h. Values are texts read and written whole.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // The value under the key, or nothing when the key is missing (an empty value is a value).
    virtual std::optional<std::string> Read(std::string_view key) = 0;
    // Saves at once. A store that cannot be written keeps the program working on what it has.
    virtual void Write(std::string_view key, std::string_view value) = 0;
};

// The daily log file's folder and writer.
class LogFiles {
public:
    virtual ~LogFiles() = default;
    // The Log folder, where the daily files "YYYYMMDD.txt" go.
    virtual std::filesystem::path Folder() = 0;
    // Opens the file for appending (creating it), writes the bytes, closes it again, leaving no
    // part of an entry behind on failure. Returns the system's reason when the entry was not
    // written, nothing when it was.
    virtual std::optional<std::string> Append(const std::filesystem::path& file,
                                              std::string_view bytes) = 0;
};

// The desktop's few services.
class Desktop {
public:
    virtual ~Desktop() = default;
    virtual void Beep() = 0;
    // A modal "Error" box with a stop icon and an OK button; returns when the user closed it.
    virtual void ErrorBox(const std::string& text) = 0;
    // Opens the address with the desktop's default handler (normally the browser); a failure
    // reported by the desktop passes silently. Throws std::exception when the call itself
    // cannot be made; the form shows its description in an error box.
    virtual void OpenAddress(const std::string& address) = 0;
};

// One whole ping probe for the address box's text: look-up, echo (blocking up to its wait)
// and the one result line. The platform's real one is probe/probe.h's pingResultLine.
class Prober {
public:
    virtual ~Prober() = default;
    virtual std::string ProbeLine(std::string_view boxText) = 0;
};

// Everything the form reaches of the platform. The ports outlive the form.
struct Platform {
    TcpClient& winsock;
    TimerPort& sendTimer;
    TimerPort& pingTimer;
    ClockPort& clock;
    SettingsStore& settings;
    LogFiles& logFiles;
    Desktop& desktop;
    Prober& prober;
};

// Portable implementations a front end may use as they are.
// The system clock through std::chrono and the C library's local time.
class SystemClock final : public ClockPort {
public:
    TimeOfDay UtcTimeOfDay() override;
    Date LocalDate() override;
};

// Daily files in a fixed folder, written with the C library (on POSIX systems opened without
// blocking, so that a pipe in the file's place cannot hold up the window, and cut back to the
// entry's start when the disk fills up halfway).
class FolderLogFiles final : public LogFiles {
public:
    explicit FolderLogFiles(std::filesystem::path folder)
        : folder_(std::move(folder)) {}
    std::filesystem::path Folder() override { return folder_; }
    std::optional<std::string> Append(const std::filesystem::path& file,
                                      std::string_view bytes) override;

private:
    std::filesystem::path folder_;
};

// The real ICMP probe of probe/probe.h.
class IcmpProber final : public Prober {
public:
    std::string ProbeLine(std::string_view boxText) override;
};

// Creates the Log folder when no entry of that name exists (a plain file named Log counts as
// present); with `withParents`, missing parent folders too. Returns the failure's
// description, or nothing on success.
std::optional<std::string> MakeLogFolder(const std::filesystem::path& folder, bool withParents);

} // namespace vm::form
