#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace vm::test {

// The outcome of a command run to its end.
struct Run {
    bool ok = false; // finished in time with exit code 0
    QString out;     // stdout without its final newline
    QString err;
    qint64 elapsedMs = 0;
};

Run run(const QStringList& command, int timeoutMs = 15000);

// A network namespace with only its loopback up, deleted again (with its /etc/netns
// files) when the object goes, whatever the outcome of the test. Needs root; elsewhere
// unavailable() says why.
class TestNamespace {
public:
    TestNamespace();
    ~TestNamespace();
    TestNamespace(const TestNamespace&) = delete;
    TestNamespace& operator=(const TestNamespace&) = delete;

    QString unavailable() const { return unavailable_; }

    bool sysctl(const QString& key, const QString& value) const;
    // A file that `ip netns exec` mounts over /etc/<fileName>, in a mount namespace of its
    // own, for the programs run in here.
    bool etcFile(const QString& fileName, const QByteArray& content) const;
    Run exec(const QStringList& command, bool asNobody = false, int timeoutMs = 15000) const;
    // The command line that runs `command` in here, for a program started in the background.
    QStringList wrap(const QStringList& command, bool asNobody = false) const;

private:
    QString etcFolder() const;

    QString name_;
    QString unavailable_;
    bool created_ = false;
};

} // namespace vm::test

#define REQUIRE_NAMESPACE(ns)                                                                      \
    vm::test::TestNamespace ns;                                                                    \
    if (!ns.unavailable().isEmpty())                                                               \
    QSKIP(qPrintable(ns.unavailable()))
