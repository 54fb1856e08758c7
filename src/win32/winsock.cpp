#include "win32/winsock.h"

#include "protocol/loglines.h"
#include "win32/text.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>

namespace vm::win32 {

namespace {

constexpr UINT kLookupDone = WM_APP + 0x10;
// Each attempt's socket notifications come as a message of their own, so that a notification
// left in the queue by a closed socket never reaches the next one (which may reuse its handle).
constexpr UINT kSocketFirst = WM_APP + 0x100;
constexpr UINT kSocketMessages = 0x100;
constexpr UINT_PTR kConnectTimer = 1;
// Reads of what has arrived when a connection ends; each takes up to one arrival's worth.
constexpr int kDrainReads = 16;

UINT socketMessage(unsigned attempt) {
    return kSocketFirst + attempt % kSocketMessages;
}

struct Startup {
    Startup() {
        WSADATA data{};
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~Startup() { WSACleanup(); }
};

} // namespace

Winsock::Winsock(Events events)
    : events_(std::move(events))
    , hostEntry_(MAXGETHOSTSTRUCT)
    , buffer_(loglines::kMaxArrivalBytes) {
    static Startup startup;
}

Winsock::~Winsock() {
    *live_ = false;
    release();
}

int Winsock::State() const {
    switch (phase_) {
    case Phase::Resolving:
        return kResolving;
    case Phase::Connecting:
        return kConnecting;
    case Phase::Connected:
        return kConnected;
    case Phase::Failed:
        return kError;
    default:
        return kClosed;
    }
}

void Winsock::postEvent(std::function<void()> event) {
    post([live = live_, event = std::move(event)] {
        if (*live)
            event();
    });
}

void Winsock::release() {
    KillTimer(handle(), kConnectTimer);
    if (lookup_) {
        WSACancelAsyncRequest(lookup_);
        lookup_ = nullptr;
    }
    if (socket_ != INVALID_SOCKET) {
        WSAAsyncSelect(socket_, handle(), 0, 0);
        closesocket(socket_);
        socket_ = INVALID_SOCKET;
    }
    ++attempt_;
}

void Winsock::Connect(const std::string& host, int port) {
    Close();
    live_ = std::make_shared<bool>(true);
    port_ = port;
    SetTimer(handle(), kConnectTimer, kConnectTimeoutMs, nullptr);
    IN_ADDR numeric{};
    if (inet_pton(AF_INET, host.c_str(), &numeric) == 1) {
        startConnect(numeric.s_addr);
        return;
    }
    phase_ = Phase::Resolving;
    lookup_ = WSAAsyncGetHostByName(handle(), kLookupDone, host.c_str(), hostEntry_.data(),
                                    int(hostEntry_.size()));
    if (!lookup_)
        attemptFailed(errorText(WSAGetLastError()));
}

void Winsock::startConnect(unsigned long address) {
    phase_ = Phase::Connecting;
    socket_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket_ == INVALID_SOCKET) {
        attemptFailed(errorText(WSAGetLastError()));
        return;
    }
    // Request frames are 4 bytes each and must leave at once, not wait to be merged.
    const BOOL noDelay = TRUE;
    setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
               sizeof noDelay);
    WSAAsyncSelect(socket_, handle(), socketMessage(attempt_), FD_CONNECT | FD_READ | FD_CLOSE);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<u_short>(port_));
    to.sin_addr.s_addr = address;
    if (connect(socket_, reinterpret_cast<const sockaddr*>(&to), sizeof to) == SOCKET_ERROR &&
        WSAGetLastError() != WSAEWOULDBLOCK)
        attemptFailed(errorText(WSAGetLastError()));
}

bool Winsock::Close() {
    if (reported_ && phase_ == Phase::Connected) {
        // What the peer sent before the program closes, and its close if it came first.
        if (readArrival(kDrainReads))
            peerClosed();
    } else if (phase_ == Phase::Connected) {
        *live_ = false; // the handlers never saw this connection open
    }
    const bool closeOnItsWay = reported_ && closePending_;
    release();
    phase_ = Phase::Closed;
    reported_ = closePending_ = false;
    return closeOnItsWay;
}

bool Winsock::WaitForConnect(std::chrono::milliseconds wait) {
    const ULONGLONG until = GetTickCount64() + ULONGLONG(wait.count());
    const auto left = [until] {
        const ULONGLONG now = GetTickCount64();
        return now >= until ? DWORD(0) : DWORD(until - now);
    };
    // The look-up's answer is a message; take it alone from the queue, leaving every other
    // event where it is.
    while (phase_ == Phase::Resolving) {
        MSG message{};
        if (PeekMessageW(&message, handle(), kLookupDone, kLookupDone, PM_REMOVE)) {
            if (reinterpret_cast<HANDLE>(message.wParam) == lookup_)
                lookupDone(message.lParam);
            continue;
        }
        const DWORD remaining = left();
        if (remaining == 0)
            break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min<DWORD>(remaining, 5), QS_POSTMESSAGE);
    }
    if (phase_ == Phase::Connecting) {
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(socket_, &writable);
        FD_SET(socket_, &failed);
        const DWORD remaining = left();
        timeval timeout{long(remaining / 1000), long(remaining % 1000) * 1000};
        if (select(0, nullptr, &writable, &failed, &timeout) > 0) {
            if (FD_ISSET(socket_, &writable)) {
                phase_ = Phase::Connected; // its connect event follows from the queue
            } else {
                int error = 0;
                int size = sizeof error;
                getsockopt(socket_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
                attemptFailed(errorText(DWORD(error)));
            }
        }
    }
    if (attemptPending())
        timedOut(int(wait.count()));
    return phase_ == Phase::Connected;
}

bool Winsock::SendData(ByteView bytes) {
    if (phase_ != Phase::Connected) {
        lastError_ = "Not connected";
        return false;
    }
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const int n = send(socket_, reinterpret_cast<const char*>(bytes.data()) + sent,
                           int(bytes.size() - sent), 0);
        if (n == SOCKET_ERROR) {
            lastError_ = errorText(WSAGetLastError());
            return false;
        }
        sent += std::size_t(n);
    }
    return true;
}

void Winsock::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER && wParam == kConnectTimer) {
        KillTimer(handle(), kConnectTimer);
        if (attemptPending())
            timedOut(kConnectTimeoutMs);
    } else if (message == kLookupDone) {
        if (reinterpret_cast<HANDLE>(wParam) == lookup_)
            lookupDone(lParam);
    } else if (message == socketMessage(attempt_) && SOCKET(wParam) == socket_) {
        socketEvent(wParam, lParam);
    }
}

void Winsock::lookupDone(LPARAM lParam) {
    lookup_ = nullptr;
    const auto* entry = reinterpret_cast<const hostent*>(hostEntry_.data());
    if (WSAGETASYNCERROR(lParam) != 0 || entry->h_addrtype != AF_INET ||
        entry->h_addr_list[0] == nullptr) {
        attemptFailed("Host not found");
        return;
    }
    unsigned long address = 0;
    std::memcpy(&address, entry->h_addr_list[0], sizeof address);
    startConnect(address);
}

void Winsock::socketEvent(WPARAM, LPARAM lParam) {
    const int error = WSAGETSELECTERROR(lParam);
    switch (WSAGETSELECTEVENT(lParam)) {
    case FD_CONNECT:
        if (error != 0) {
            if (attemptPending())
                attemptFailed(errorText(DWORD(error)));
            return;
        }
        KillTimer(handle(), kConnectTimer);
        phase_ = Phase::Connected;
        postEvent([this] {
            reported_ = true;
            events_.connect();
        });
        break;
    case FD_READ:
        // From the loop itself, with nothing posted before it: the arrival runs now, saving a
        // round through the queue for every reply.
        readArrival(1, !postedPending());
        break;
    case FD_CLOSE:
        // The bytes that arrived before the close are decoded before it.
        readArrival(kDrainReads);
        lastError_ = error != 0 ? errorText(DWORD(error)) : "Closed by the peer";
        peerClosed();
        break;
    default:
        break;
    }
}

// Reads up to `reads` arrivals of at most kMaxArrivalBytes each, posting each as one data
// event (or, `now`, running it at once). Returns true when the peer's end of the stream was
// read.
bool Winsock::readArrival(int reads, bool now) {
    for (int read = 0; read < reads && socket_ != INVALID_SOCKET; ++read) {
        const int n = recv(socket_, buffer_.data(), int(buffer_.size()), 0);
        if (n <= 0)
            return n == 0;
        // A copy: an error box inside the handler runs a message loop, which may read again.
        std::vector<std::uint8_t> bytes(buffer_.begin(), buffer_.begin() + n);
        if (now)
            events_.data(ByteView(bytes.data(), bytes.size()));
        else
            postEvent([this, bytes = std::move(bytes)] {
                events_.data(ByteView(bytes.data(), bytes.size()));
            });
    }
    return false;
}

// The peer ended the connection: the socket goes, and its close event follows the data events
// already posted.
void Winsock::peerClosed() {
    release();
    phase_ = Phase::Closed;
    closePending_ = true;
    postEvent([this, live = live_] {
        if (live == live_)
            closePending_ = false;
        events_.close();
    });
}

void Winsock::attemptFailed(const std::string& description) {
    lastError_ = description;
    release();
    phase_ = Phase::Failed;
    postEvent([this, description] { events_.failure(description); });
}

void Winsock::timedOut(int ms) {
    attemptFailed((phase_ == Phase::Resolving ? "Host lookup timed out after "
                                              : "Connection timed out after ") +
                  std::to_string(ms) + " ms");
}

} // namespace vm::win32
