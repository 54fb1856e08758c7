#pragma once

// Winsock1 on Windows: the form's TCP client over Winsock, its events delivered as window
// messages (WSAAsyncSelect, WSAAsyncGetHostByName) in the program's one message loop. A name
// is looked up without blocking the thread and the first IPv4 address is taken, as the Linux
// window does; Send's wait (WaitForConnect) bounds the look-up and the connect together.

#include "form/ports.h"
#include "win32/message_target.h"

#include <winsock2.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vm::win32 {

class Winsock final : public form::TcpClient, private MessageTarget {
public:
    struct Events {
        std::function<void()> connect;
        std::function<void()> close;
        std::function<void(ByteView)> data;
        std::function<void(const std::string&)> failure;
    };
    // How long an attempt started by the Connect button may take before it fails.
    static constexpr int kConnectTimeoutMs = 10000;

    explicit Winsock(Events events);
    ~Winsock() override;

    int State() const override;
    void Connect(const std::string& host, int port) override;
    bool Close() override;
    bool WaitForConnect(std::chrono::milliseconds wait) override;
    bool SendData(ByteView bytes) override;
    std::string LastError() const override { return lastError_; }

private:
    enum class Phase { Closed, Resolving, Connecting, Connected, Failed };

    void onMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void postEvent(std::function<void()> event);
    void startConnect(unsigned long address);
    void lookupDone(LPARAM lParam);
    void socketEvent(WPARAM wParam, LPARAM lParam);
    bool readArrival(int reads, bool now = false);
    void peerClosed();
    void attemptFailed(const std::string& description);
    void timedOut(int ms);
    void release();
    bool attemptPending() const {
        return phase_ == Phase::Resolving || phase_ == Phase::Connecting;
    }

    Events events_;
    Phase phase_ = Phase::Closed;
    SOCKET socket_ = INVALID_SOCKET;
    HANDLE lookup_ = nullptr;
    std::vector<char> hostEntry_;
    int port_ = 0;
    unsigned attempt_ = 0; // the socket's notifications carry a message of the attempt
    std::shared_ptr<bool> live_ = std::make_shared<bool>(true);
    bool reported_ = false;     // the connect event was delivered
    bool closePending_ = false; // the peer's close event is posted and not yet delivered
    std::vector<char> buffer_;
    std::string lastError_;
};

} // namespace vm::win32
