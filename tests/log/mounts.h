#pragma once

// Real file-system faults for tests: read-only and tiny file systems mounted inside a
// private mount namespace of the test process, so that nothing is seen outside it and
// every mount ends with the process at the latest. Needs root; tests skip without it.

#include <QApplication>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace vmtest {

// Why mounts cannot be used here, or empty when they can.
inline QString& mountProblem() {
    static QString problem = QStringLiteral("the private mount namespace was not entered");
    return problem;
}

inline QString systemError(const char* what) {
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

// Moves the process into a mount namespace of its own whose mounts do not propagate back.
// Call before any thread is started.
inline void enterPrivateMountNamespace() {
    if (::geteuid() != 0) {
        mountProblem() = QStringLiteral("not running as root, so nothing can be mounted");
        return;
    }
    if (::unshare(CLONE_NEWNS) != 0) {
        mountProblem() = systemError("unshare(CLONE_NEWNS) is not permitted");
        return;
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        mountProblem() = systemError("making / private failed");
        return;
    }
    mountProblem().clear();
}

// Mounts that the guard takes off again when it goes out of scope.
class Mounts {
public:
    Mounts() = default;
    Mounts(const Mounts&) = delete;
    Mounts& operator=(const Mounts&) = delete;
    ~Mounts() {
        while (!points_.isEmpty())
            unmount(points_.last());
    }

    // The folder becomes a read-only view of itself.
    bool readOnly(const QString& folder) {
        const QByteArray path = QFile::encodeName(folder);
        if (::mount(path.constData(), path.constData(), nullptr, MS_BIND, nullptr) != 0)
            return fail("bind mount");
        points_ << folder;
        if (::mount(nullptr, path.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                    nullptr) != 0)
            return fail("read-only remount");
        return true;
    }

    // An empty memory file system of the given size on the folder.
    bool tmpfs(const QString& folder, int kibibytes) {
        const QByteArray path = QFile::encodeName(folder);
        const QByteArray options = "size=" + QByteArray::number(kibibytes) + "k,mode=0755";
        if (::mount("tmpfs", path.constData(), "tmpfs", 0, options.constData()) != 0)
            return fail("tmpfs mount");
        points_ << folder;
        return true;
    }

    void unmount(const QString& folder) {
        ::umount2(QFile::encodeName(folder).constData(), MNT_DETACH);
        points_.removeAll(folder);
    }

    QString error() const { return error_; }

private:
    bool fail(const char* what) {
        error_ = systemError(what);
        return false;
    }
    QStringList points_;
    QString error_;
};

} // namespace vmtest

#define VM_REQUIRE_MOUNTS()                                                                        \
    do {                                                                                           \
        if (!vmtest::mountProblem().isEmpty())                                                     \
            QSKIP(qPrintable(QStringLiteral("needs real mounts: ") + vmtest::mountProblem()));     \
    } while (false)

// QTEST_MAIN that first moves the test into its own mount namespace.
#define VM_TEST_MAIN_WITH_MOUNTS(TestObject)                                                       \
    int main(int argc, char* argv[]) {                                                             \
        vmtest::enterPrivateMountNamespace();                                                      \
        QApplication app(argc, argv);                                                              \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestObject test;                                                                           \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
