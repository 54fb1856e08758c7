#!/usr/bin/env bash
# Repeat at 0.001 s in vm3870sim.exe under Wine against the Linux emulator ("List + File", so
# that every reply filed is counted), beside vm3870ctl.exe watch -i 0.001 under Wine in the
# same minutes; then the window's start-up under Wine and the sizes of what ships. Prints
# figures only.
#
#   bench/win32/cycles.sh [seconds] [build-windows folder] [Linux build folder]
set -euo pipefail
seconds=${1:-10}
here=$(realpath "$(dirname "$0")/../../tests/win32")
set -- "${2:-$here/../../build-windows}" "${3:-$here/../../build}"
source "$here/driver.sh"
today=$(date +%Y%m%d)

echo "load before: $(uptime | sed 's/.*load average: //') ($(nproc) cores)"
start_emulator
reg add "$settings" /v ADDRESS /t REG_SZ /d 127.0.0.1 /f
reg add "$settings" /v PORT /t REG_SZ /d "$port" /f
reg add "$settings" /v INTERVAL /t REG_SZ /d 0.001 /f
started=$(date +%s%N)
start_window
echo "start-up to the window shown and readable: $((($(date +%s%N) - started) / 1000000)) ms (Wine)"
[ "$(text txtDestIP)" = 127.0.0.1 ] || { echo "the window did not take 127.0.0.1" >&2; exit 1; }
rm -f "$build/Log/$today.txt"
click optLog_1
click optInterval_1
click cmdSend
sleep 1
requests0=$(requests 4E524551)
sleep "$seconds"
requests1=$(requests 4E524551)
click cmdEnd
sleep 1
replies=$(grep -c " REPLY " "$work/emu.out" || true)
filed=$(grep -c " RECV : " "$build/Log/$today.txt" || true)
window_rate=$(((requests1 - requests0) / seconds))
echo "window, Repeat 0.001 s: $window_rate cycles/s over $seconds s;" \
    "$replies replies sent, $filed filed, $((replies - filed)) lost"
close_window

start_emulator
"$wine" "$build/vm3870ctl.exe" -H 127.0.0.1 -p "$port" watch -i 0.001 -d "$seconds" -f csv \
    >"$work/watch.csv" 2>/dev/null || true
records=$(($(wc -l <"$work/watch.csv") - 1))
ctl_rate=$((records / seconds))
echo "vm3870ctl.exe watch -i 0.001: $ctl_rate replies/s over $seconds s" \
    "($(requests 4E524551) requests)"
echo "window / command line: $((100 * window_rate / (ctl_rate > 0 ? ctl_rate : 1))) %"
echo "load after: $(uptime | sed 's/.*load average: //')"

strip=x86_64-w64-mingw32-strip
for program in vm3870sim vm3870ctl; do
    $strip -o "$work/$program.exe" "$build/$program.exe"
    echo "$program.exe stripped: $(stat -c %s "$work/$program.exe") bytes"
done
for msi in "$build"/vm3870-*-win64.msi; do
    [ -f "$msi" ] && echo "$(basename "$msi"): $(stat -c %s "$msi") bytes"
done
