#pragma once

#include "emu/device.h"
#include "emu/options.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QTcpServer;

namespace vm::emu {

// Receives each line the emulator reports (requests, replies, connections), without a
// line break.
using LineSink = std::function<void(const QString&)>;

// "[HH:MM:SS.mmm]" of the current UTC time, the stamp that begins every reported line.
QString lineStamp();

// The TCP side of the emulator: accepts any number of clients, cuts each client's stream
// into 4-byte requests and answers each understood request with a status frame of the one
// shared device, applying the fault modes of the options on the way.
class Server : public QObject {
public:
    Server(const Options& options, Device::Clock clock, LineSink sink, QObject* parent = nullptr);
    ~Server() override;

    bool listen();
    QString errorString() const;
    QHostAddress address() const;
    quint16 port() const;

    struct Shared;

private:
    QTcpServer* tcp_;
    std::shared_ptr<Shared> shared_;
    int lastClientId_ = 0;
};

} // namespace vm::emu
