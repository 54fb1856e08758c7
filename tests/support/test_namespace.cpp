#include "support/test_namespace.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <unistd.h>

namespace vm::test {

Run run(const QStringList& command, int timeoutMs) {
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(command.first(), command.mid(1));
    const bool finished = process.waitForFinished(timeoutMs);
    if (!finished) {
        process.kill();
        process.waitForFinished(2000);
    }
    Run result;
    result.elapsedMs = clock.elapsed();
    result.ok = finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    if (result.out.endsWith(u'\n'))
        result.out.chop(1);
    result.err = QString::fromUtf8(process.readAllStandardError()) + process.errorString();
    return result;
}

TestNamespace::TestNamespace() {
    static int serial = 0;
    name_ = QStringLiteral("vmtest-%1-%2").arg(::getpid()).arg(++serial);
    if (::geteuid() != 0) {
        unavailable_ = QStringLiteral("needs root to make network namespaces (ip netns add)");
        return;
    }
    const Run add = run({"ip", "netns", "add", name_});
    created_ = add.ok;
    if (!created_)
        unavailable_ = QStringLiteral("network namespaces are not available: ") + add.err;
    else if (!run({"ip", "-n", name_, "link", "set", "lo", "up"}).ok)
        unavailable_ = QStringLiteral("cannot bring up loopback in a new namespace");
}

TestNamespace::~TestNamespace() {
    QDir(etcFolder()).removeRecursively();
    QDir(QStringLiteral("/etc")).rmdir(QStringLiteral("netns")); // only when left empty
    if (created_)
        run({"ip", "netns", "del", name_});
}

bool TestNamespace::sysctl(const QString& key, const QString& value) const {
    return run({"ip", "netns", "exec", name_, "sysctl", "-qw", key + u'=' + value}).ok;
}

bool TestNamespace::etcFile(const QString& fileName, const QByteArray& content) const {
    QFile file(etcFolder() + u'/' + fileName);
    return QDir().mkpath(etcFolder()) && file.open(QIODevice::WriteOnly) &&
           file.write(content) == content.size();
}

Run TestNamespace::exec(const QStringList& command, bool asNobody, int timeoutMs) const {
    return run(wrap(command, asNobody), timeoutMs);
}

QStringList TestNamespace::wrap(const QStringList& command, bool asNobody) const {
    QStringList full{"ip", "netns", "exec", name_};
    if (asNobody)
        full << "setpriv"
             << "--reuid=65534"
             << "--regid=65534"
             << "--clear-groups";
    return full + command;
}

QString TestNamespace::etcFolder() const {
    return QStringLiteral("/etc/netns/") + name_;
}

} // namespace vm::test
