#pragma once

// The rules of a connect to the module that every front end and vm3870ctl share: which of a
// name's addresses the window connects to, and the texts of the failures they report.

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace vm::connecting {

// The failure texts, as they end the window's "Connect Failed!!" line and vm3870ctl's
// message.
inline constexpr char kHostNotFound[] = "Host not found";

inline std::string connectTimedOut(std::chrono::milliseconds wait) {
    return "Connection timed out after " + std::to_string(wait.count()) + " ms";
}

inline std::string lookupTimedOut(std::chrono::milliseconds wait) {
    return "Host lookup timed out after " + std::to_string(wait.count()) + " ms";
}

// The address the window connects to among those a look-up gave, in the order the system's
// name service lists them: the first IPv4 address, else the first address of any kind; none
// for an empty list. (vm3870ctl tries every address in turn instead, so that a name whose
// first address does not answer still reaches the module from the command line.)
template <typename Address, typename IsIpv4>
const Address* chooseAddress(const std::vector<Address>& found, IsIpv4 isIpv4) {
    for (const Address& address : found)
        if (isIpv4(address))
            return &address;
    return found.empty() ? nullptr : &found.front();
}

} // namespace vm::connecting
