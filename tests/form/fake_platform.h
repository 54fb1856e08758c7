#pragma once

// A platform for the form that does nothing by itself: a TCP client whose peer the test
// scripts, timers that tick when the test says, a clock that stands still, and a settings
// store, log files and desktop in memory. The events the client raises wait in a queue until
// the test delivers them, as a front end's event loop would, one at a time.

#include "form/form.h"

#include <algorithm>
#include <deque>
#include <stdexcept>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vm::test {

using form::frmSim_3870;

class FakeTcp final : public form::TcpClient {
public:
    // What the other end does with a connect.
    enum class Peer { Listening, Refusing, Silent };
    Peer peer = Peer::Listening;
    std::optional<std::string> writeFailure; // SendData fails with this reason
    std::vector<std::string> calls;          // "Connect host:port", "Close", "Send 4E524551"
    struct Event {
        char kind; // O connect, E failure, C close, D data
        std::function<void(frmSim_3870&)> run;
    };
    std::deque<Event> events;

    int State() const override { return state_; }
    void Connect(const std::string& host, int port) override {
        abandon();
        calls.push_back("Connect " + host + ":" + std::to_string(port));
        state_ = kConnecting;
        pending_ = true;
    }
    bool Close() override {
        calls.push_back("Close");
        return abandon();
    }
    bool abandon() {
        // The abandoned attempt's events go; what the connection did before stays.
        std::erase_if(events, [](const Event& event) { return event.kind == 'O' || event.kind == 'E'; });
        state_ = kClosed;
        pending_ = false;
        return std::any_of(events.begin(), events.end(),
                           [](const Event& event) { return event.kind == 'C'; });
    }
    bool WaitForConnect(std::chrono::milliseconds wait) override {
        settle();
        if (pending_) { // a silent peer: the wait runs out
            pending_ = false;
            state_ = kError;
            raise('E', [wait](frmSim_3870& f) {
                f.Winsock1_Error("Connection timed out after " + std::to_string(wait.count()) +
                                 " ms");
            });
        }
        return state_ == kConnected;
    }
    bool SendData(ByteView bytes) override {
        if (state_ != kConnected) {
            lastError_ = "Not connected";
            return false;
        }
        if (writeFailure) {
            lastError_ = *writeFailure;
            return false;
        }
        std::string hex;
        for (const std::uint8_t byte : bytes) {
            static constexpr char digits[] = "0123456789ABCDEF";
            hex += digits[byte >> 4];
            hex += digits[byte & 15];
        }
        calls.push_back("Send " + hex);
        return true;
    }
    std::string LastError() const override { return lastError_; }

    // The attempt comes to its end, as the network would decide it.
    void settle() {
        if (!pending_)
            return;
        if (peer == Peer::Listening) {
            pending_ = false;
            state_ = kConnected;
            raise('O', [](frmSim_3870& f) { f.Winsock1_Connect(); });
        } else if (peer == Peer::Refusing) {
            pending_ = false;
            state_ = kError;
            raise('E', [](frmSim_3870& f) { f.Winsock1_Error("Connection refused"); });
        }
    }
    void peerCloses() {
        state_ = kClosed;
        raise('C', [](frmSim_3870& f) { f.Winsock1_Close(); });
    }
    void arrives(Bytes bytes) {
        raise('D', [bytes](frmSim_3870& f) { f.Winsock1_DataArrival(bytes); });
    }
    // The event loop turns until nothing is left to deliver.
    void pump(frmSim_3870& form) {
        settle();
        while (!events.empty()) {
            const Event event = events.front();
            events.pop_front();
            event.run(form);
        }
    }

private:
    void raise(char kind, std::function<void(frmSim_3870&)> run) {
        events.push_back({kind, std::move(run)});
    }

    int state_ = kClosed;
    bool pending_ = false;
    std::string lastError_;
};

class FakeTimer final : public form::TimerPort {
public:
    bool running = false;
    std::chrono::milliseconds interval{0};
    int starts = 0;
    void Start(std::chrono::milliseconds period) override {
        running = true;
        interval = period;
        ++starts;
    }
    void Stop() override { running = false; }
};

class FakeClock final : public form::ClockPort {
public:
    TimeOfDay time{9, 5, 3, 42};
    form::Date date{2024, 3, 1};
    TimeOfDay UtcTimeOfDay() override { return time; }
    form::Date LocalDate() override { return date; }
};

class MemorySettings final : public form::SettingsStore {
public:
    std::map<std::string, std::string, std::less<>> values;
    std::optional<std::string> Read(std::string_view key) override {
        const auto found = values.find(key);
        if (found == values.end())
            return std::nullopt;
        return found->second;
    }
    void Write(std::string_view key, std::string_view value) override {
        values[std::string(key)] = std::string(value);
    }
};

class MemoryLogFiles final : public form::LogFiles {
public:
    std::map<std::string, std::string> files;
    std::optional<std::string> failure; // every entry fails with this reason
    std::filesystem::path Folder() override { return "Log"; }
    std::optional<std::string> Append(const std::filesystem::path& file,
                                      std::string_view bytes) override {
        if (failure)
            return failure;
        files[file.generic_string()] += bytes;
        return std::nullopt;
    }
};

class FakeDesktop final : public form::Desktop {
public:
    int beeps = 0;
    std::vector<std::string> errorBoxes;
    std::vector<std::string> opened;
    bool openThrows = false;
    void Beep() override { ++beeps; }
    void ErrorBox(const std::string& text) override { errorBoxes.push_back(text); }
    void OpenAddress(const std::string& address) override {
        if (openThrows)
            throw std::runtime_error("The shell cannot be reached");
        opened.push_back(address);
    }
};

class FakeProber final : public form::Prober {
public:
    std::string ProbeLine(std::string_view boxText) override {
        return "Reply From " + std::string(boxText) + ": Bytes=0 Time=1ms TTL=64";
    }
};

// The fakes and a loaded form on them.
struct Rig {
    FakeTcp tcp;
    FakeTimer sendTimer;
    FakeTimer pingTimer;
    FakeClock clock;
    MemorySettings settings;
    MemoryLogFiles memoryFiles;
    form::LogFiles* files = &memoryFiles;
    FakeDesktop desktop;
    FakeProber prober;
    std::optional<frmSim_3870> form;

    frmSim_3870& load() {
        form.emplace(form::Platform{tcp, sendTimer, pingTimer, clock, settings, *files, desktop,
                                    prober});
        form->Form_Load();
        return *form;
    }
    // The repeat timer's tick, when it runs.
    void tick() {
        if (sendTimer.running)
            form->SendTimer_Timer();
    }
    void pump() { tcp.pump(*form); }
};

} // namespace vm::test
