// Winsock1 on Windows against a module of the test's own on loopback, with the events taken
// from the one message loop as the window takes them: the order of connect, data and close,
// the program's Close raising nothing, a refused port, Send's wait. Runs under Wine.
#define DOCTEST_CONFIG_IMPLEMENT_WITH_MAIN
#include <doctest/doctest.h>

#include "win32/winsock.h"

#include <winsock2.h>

#include <string>
#include <vector>

namespace {

// A listening socket on 127.0.0.1 and the one connection it accepts.
struct Module {
    SOCKET listener = INVALID_SOCKET;
    SOCKET peer = INVALID_SOCKET;
    int port = 0;

    Module() {
        listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at);
        listen(listener, 1);
        int size = sizeof at;
        getsockname(listener, reinterpret_cast<sockaddr*>(&at), &size);
        port = ntohs(at.sin_port);
    }
    ~Module() {
        if (peer != INVALID_SOCKET)
            closesocket(peer);
        closesocket(listener);
    }
    void accept() { peer = ::accept(listener, nullptr, nullptr); }
    void write(const std::string& bytes) { send(peer, bytes.data(), int(bytes.size()), 0); }
    void close() {
        closesocket(peer);
        peer = INVALID_SOCKET;
    }
};

// What the client reported, in order: "connect", "data:<bytes>", "close", "failure".
struct Recorder {
    std::vector<std::string> events;
    vm::win32::Winsock client{vm::win32::Winsock::Events{
        [this] { events.push_back("connect"); }, [this] { events.push_back("close"); },
        [this](vm::ByteView data) {
            events.push_back("data:" + std::string(data.begin(), data.end()));
        },
        [this](const std::string&) { events.push_back("failure"); }}};

    // Runs the message loop until `count` events have come, or 5 s have passed.
    void pump(std::size_t count) {
        const ULONGLONG until = GetTickCount64() + 5000;
        while (events.size() < count && GetTickCount64() < until) {
            MSG message{};
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&message);
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        }
    }
    // Runs the message loop for what is already on its way.
    void drain() {
        for (int round = 0; round < 20; ++round) {
            MSG message{};
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&message);
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        }
    }
};

struct Startup {
    Startup() {
        WSADATA data{};
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~Startup() { WSACleanup(); }
} startup;

} // namespace

TEST_CASE("the module's bytes and its close arrive in order, the close once") {
    struct Row {
        const char* host;
        bool waitForConnect; // as Send does, rather than the Connect button
    };
    for (const Row row :
         {Row{"127.0.0.1", false}, Row{"127.0.0.1", true}, Row{"localhost", true}}) {
        CAPTURE(row.host);
        CAPTURE(row.waitForConnect);
        Module module;
        Recorder recorder;
        recorder.client.Connect(row.host, module.port);
        if (row.waitForConnect)
            CHECK(recorder.client.WaitForConnect(std::chrono::milliseconds(1000)));
        module.accept();
        recorder.pump(1);
        REQUIRE(recorder.events == std::vector<std::string>{"connect"});
        CHECK(recorder.client.State() == vm::form::TcpClient::kConnected);
        const std::uint8_t request[] = {'N', 'R', 'E', 'Q'};
        CHECK(recorder.client.SendData(request));
        module.write("status");
        module.close(); // right behind the bytes
        recorder.pump(3);
        recorder.drain();
        CHECK(recorder.events == std::vector<std::string>{"connect", "data:status", "close"});
    }
}

TEST_CASE("a Close by the program raises no event, and says whether the module closed first") {
    for (const bool moduleClosedFirst : {false, true}) {
        CAPTURE(moduleClosedFirst);
        Module module;
        Recorder recorder;
        recorder.client.Connect("127.0.0.1", module.port);
        module.accept();
        recorder.pump(1);
        REQUIRE(recorder.events.size() == 1);
        if (moduleClosedFirst) {
            module.write("last");
            module.close();
            Sleep(100); // the close reaches this side's socket; no event is taken yet
        }
        CHECK(recorder.client.Close() == moduleClosedFirst);
        recorder.drain();
        // The bytes before the module's close are still decoded, and its close gives its line.
        const std::vector<std::string> expected =
            moduleClosedFirst ? std::vector<std::string>{"connect", "data:last", "close"}
                              : std::vector<std::string>{"connect"};
        CHECK(recorder.events == expected);
        CHECK(recorder.client.State() == vm::form::TcpClient::kClosed);
    }
}

TEST_CASE("a port where nothing listens fails, with no connect") {
    int port = 0;
    {
        Module gone; // a port that was free a moment ago
        port = gone.port;
    }
    Recorder recorder;
    recorder.client.Connect("127.0.0.1", port);
    CHECK_FALSE(recorder.client.WaitForConnect(std::chrono::milliseconds(1000)));
    recorder.pump(1);
    CHECK(recorder.events == std::vector<std::string>{"failure"});
    CHECK_FALSE(recorder.client.LastError().empty());
}
