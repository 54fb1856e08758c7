#!/usr/bin/env bash
# The end-to-end tables of the Linux build (tests/ctl/tst_ctl_process: status, set, reset,
# exit codes, watch, check scripts with JUnit, decode of a CR LF daily file, the settings as
# `wine reg add` writes them, paths outside ASCII, ping) run against vm3870ctl.exe under Wine
# and the Linux emulator on loopback, in the Windows build's private prefix. A failing row
# fails the run. Under Wine an ICMP echo needs root: the ping rows skip with their message
# otherwise, as on Linux.
#
# As root, everything runs in a network namespace with nothing but loopback, the Wine server
# too (it owns Wine's sockets): a row that fell back to the default address by a fault would
# reach nothing there. Elsewhere it runs as it is.
#
#   tests/win32/ctl.sh [build-windows folder] [Linux build folder]
set -euo pipefail
build=$(realpath "${1:-$(dirname "$0")/../../build-windows}")
linux=$(realpath "${2:-$(dirname "$0")/../../build}")
. "$(dirname "$0")/../support/loopback.sh"
if [ "${3:-}" != --inside ] && loopback_only_permitted; then
    exec "${loopback_only[@]}" "$0" "$build" "$linux" --inside
fi
wine=$(sed -n 's/^VM_WINE:FILEPATH=//p' "$build/CMakeCache.txt")
wineserver=$(sed -n 's/^VM_WINESERVER:FILEPATH=//p' "$build/CMakeCache.txt")
unset DISPLAY WAYLAND_DISPLAY
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all
# One Wine server for the whole run, rather than one started for each program (after the one
# CTest's programs left has ended).
"$wineserver" -w
"$wineserver" -p
trap '"$wineserver" -k || true' EXIT
# Wine takes its code page from the locale: 1252 (Western) for the whole table, then 949
# (Korean) for the case of paths and messages outside ASCII.
LC_ALL=C.UTF-8 VM3870CTL="$wine $build/vm3870ctl.exe" "$linux/tests/ctl/tst_ctl_process"
echo "== vm3870ctl.exe under Wine, Korean code page"
LC_ALL=ko_KR.UTF-8 VM3870CTL="$wine $build/vm3870ctl.exe" \
    "$linux/tests/ctl/tst_ctl_process" --test-case='*whatever the code page*'
