#pragma once

// The raw-socket privilege (CAP_NET_RAW on Linux) that the ping test needs where the system
// grants no unprivileged ping sockets. A program given it (setcap cap_net_raw+ep) holds it
// in its effective set only while the probe opens a raw ICMP socket: reading replies,
// settings, fonts and scripts happens without it.

#include <functional>

namespace vm {

#ifdef _WIN32
// Windows' ICMP echo service needs no privilege.
inline void confineRawSocketPrivilege() {}
#else
// Call first in main, before any thread starts (threads take their sets from the thread that
// starts them). Lowers CAP_NET_RAW from the effective set and keeps it permitted for the
// probe, or drops it for good when this process may open unprivileged ping sockets. Programs
// started from here never inherit it. Does nothing when the process does not hold it.
void confineRawSocketPrivilege();

// Runs `open` with CAP_NET_RAW effective when it is permitted, and lowers it again; returns
// what `open` returned, with its errno.
int withRawSocketPrivilege(const std::function<int()>& open);
#endif

} // namespace vm
