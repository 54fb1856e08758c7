#pragma once

// The three settings the window remembers across restarts, read by vm3870ctl as well: the
// per-user store's application name and section, the keys and their defaults.

namespace vm::settings {

inline constexpr char kApplication[] = "VM3870_SIMUL";
inline constexpr char kSection[] = "vm3870sim";

inline constexpr char kAddressKey[] = "ADDRESS";
inline constexpr char kPortKey[] = "PORT";
inline constexpr char kIntervalKey[] = "INTERVAL";

inline constexpr char kDefaultAddress[] = "192.168.1.110";
inline constexpr char kDefaultPort[] = "4000";
inline constexpr char kDefaultInterval[] = "1";

} // namespace vm::settings
