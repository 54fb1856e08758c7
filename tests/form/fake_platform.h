#pragma once

// A platform for the form that does nothing by itself: a TCP client whose peer the test
// scripts, timers that tick when the test says, a clock that stands still, and a settings
// store, daily files and desktop in memory. The client's events wait in a queue until the
// test pumps them, one at a time, as a front end's event loop would.

#include "form/form.h"
#include "protocol/hex.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vm::test {

using form::frmSim_3870;

class FakeTcp final : public form::TcpClient {
public:
    enum class Peer { Listening, Refusing, Silent }; // what the other end does with a connect
    Peer peer = Peer::Listening;
    std::optional<std::string> writeFailure;
    std::vector<std::string> calls; // "Close", "Connect host:port", "Send 4E524551"

    int State() const override { return state_; }
    void Connect(const std::string& host, int port) override {
        abandon();
        calls.push_back("Connect " + host + ":" + std::to_string(port));
        state_ = kConnecting;
    }
    bool Close() override {
        calls.push_back("Close");
        return abandon();
    }
    bool WaitForConnect(std::chrono::milliseconds wait) override {
        settle();
        if (state_ == kConnecting) // a silent peer: the wait runs out
            fail("Connection timed out after " + std::to_string(wait.count()) + " ms");
        return state_ == kConnected;
    }
    bool SendData(ByteView bytes) override {
        lastError_ = state_ != kConnected ? "Not connected" : writeFailure.value_or("");
        if (!lastError_.empty())
            return false;
        calls.push_back("Send " + hex::upper(bytes));
        return true;
    }
    std::string LastError() const override { return lastError_; }

    // The network decides a pending attempt.
    void settle() {
        if (state_ != kConnecting || peer == Peer::Silent)
            return;
        if (peer == Peer::Refusing)
            return fail("Connection refused");
        state_ = kConnected;
        raise('O', [](frmSim_3870& f) { f.Winsock1_Connect(); });
    }
    void peerCloses() {
        state_ = kClosed;
        raise('C', [](frmSim_3870& f) { f.Winsock1_Close(); });
    }
    void arrives(Bytes bytes) {
        raise('D', [bytes](frmSim_3870& f) { f.Winsock1_DataArrival(bytes); });
    }
    void pump(frmSim_3870& form) {
        settle();
        while (!events_.empty()) {
            const Event event = events_.front();
            events_.pop_front();
            event.run(form);
        }
    }

private:
    struct Event {
        char kind; // O connect, E failure, C close, D data
        std::function<void(frmSim_3870&)> run;
    };
    // An abandoned attempt's events go; what the connection did before stays. Returns whether
    // the peer's close is among them.
    bool abandon() {
        std::erase_if(events_, [](const Event& e) { return e.kind == 'O' || e.kind == 'E'; });
        state_ = kClosed;
        return std::any_of(events_.begin(), events_.end(),
                           [](const Event& e) { return e.kind == 'C'; });
    }
    void fail(std::string reason) {
        state_ = kError;
        raise('E', [reason](frmSim_3870& f) { f.Winsock1_Error(reason); });
    }
    void raise(char kind, std::function<void(frmSim_3870&)> run) {
        events_.push_back({kind, std::move(run)});
    }

    int state_ = kClosed;
    std::string lastError_;
    std::deque<Event> events_;
};

struct FakeTimer final : form::TimerPort {
    bool running = false;
    std::chrono::milliseconds interval{0};
    int starts = 0;
    void Start(std::chrono::milliseconds period) override {
        running = true, interval = period, ++starts;
    }
    void Stop() override { running = false; }
};

struct FakeClock final : form::ClockPort {
    TimeOfDay UtcTimeOfDay() override { return {9, 5, 3, 42}; }
    form::Date LocalDate() override { return {2024, 3, 1}; }
};

struct MemorySettings final : form::SettingsStore {
    std::map<std::string, std::string, std::less<>> values;
    std::optional<std::string> Read(std::string_view key) override {
        const auto found = values.find(key);
        return found == values.end() ? std::nullopt : std::optional(found->second);
    }
    void Write(std::string_view key, std::string_view value) override {
        values[std::string(key)] = value;
    }
};

struct MemoryLogFiles final : form::LogFiles {
    std::map<std::string, std::string> files;
    std::optional<std::string> failure; // every entry fails with this reason
    std::filesystem::path Folder() override { return "Log"; }
    std::optional<std::string> Append(const std::filesystem::path& file,
                                      std::string_view bytes) override {
        if (!failure)
            files[file.generic_string()] += bytes;
        return failure;
    }
};

struct FakeDesktop final : form::Desktop {
    int beeps = 0;
    std::vector<std::string> errorBoxes, opened;
    bool openThrows = false;
    void Beep() override { ++beeps; }
    void ErrorBox(const std::string& text) override { errorBoxes.push_back(text); }
    void OpenAddress(const std::string& address) override {
        if (openThrows)
            throw std::runtime_error("The shell cannot be reached");
        opened.push_back(address);
    }
};

struct FakeProber final : form::Prober {
    std::string ProbeLine(std::string_view boxText) override {
        return "Reply From " + std::string(boxText) + ": Bytes=0 Time=1ms TTL=64";
    }
};

// The fakes, and a loaded form on them.
struct Rig {
    FakeTcp tcp;
    FakeTimer sendTimer, pingTimer;
    FakeClock clock;
    MemorySettings settings;
    MemoryLogFiles memoryFiles;
    form::LogFiles* files = &memoryFiles;
    FakeDesktop desktop;
    FakeProber prober;
    std::optional<frmSim_3870> form;

    void load() {
        form.emplace(
            form::Platform{tcp, sendTimer, pingTimer, clock, settings, *files, desktop, prober});
        form->Form_Load();
    }
    void tick() { // the repeat timer's tick, when it runs
        if (sendTimer.running)
            form->SendTimer_Timer();
    }
    void pump() { tcp.pump(*form); }
};

} // namespace vm::test
