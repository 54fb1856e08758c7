// CAP_NET_RAW through the capget and capset system calls: the sets of the calling thread.
#include "probe/privilege.h"

#include <cerrno>

#include <linux/capability.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vm {

namespace {

constexpr unsigned kWord = CAP_TO_INDEX(CAP_NET_RAW);
constexpr __u32 kBit = CAP_TO_MASK(CAP_NET_RAW);

struct Capabilities {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};

    bool read() { return ::syscall(SYS_capget, &header, data) == 0; }
    bool write() { return ::syscall(SYS_capset, &header, data) == 0; }
    __user_cap_data_struct& netRaw() { return data[kWord]; }
};

bool pingSocketsAllowed() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

} // namespace

void confineRawSocketPrivilege() {
    // An ambient capability would pass on to every program started from here.
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_LOWER, CAP_NET_RAW, 0, 0);
    Capabilities caps;
    if (!caps.read())
        return;
    auto& sets = caps.netRaw();
    if (((sets.effective | sets.permitted | sets.inheritable) & kBit) == 0)
        return;
    sets.effective &= ~kBit;
    sets.inheritable &= ~kBit;
    if (!caps.write())
        return;
    if (pingSocketsAllowed()) {
        sets.permitted &= ~kBit;
        caps.write();
    }
}

int withRawSocketPrivilege(const std::function<int()>& open) {
    Capabilities caps;
    const bool raise = caps.read() && (caps.netRaw().permitted & kBit) != 0 &&
                       (caps.netRaw().effective & kBit) == 0;
    if (raise) {
        caps.netRaw().effective |= kBit;
        caps.write();
    }
    const int result = open();
    const int error = errno;
    if (raise) {
        caps.netRaw().effective &= ~kBit;
        caps.write();
    }
    errno = error;
    return result;
}

} // namespace vm
