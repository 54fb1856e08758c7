#!/usr/bin/env bash
# The README's first command as a newcomer runs it: `scripts/run` on a display must open the
# window beside an emulator it started, the window pointed at that emulator, and a press of
# Connect must reach it. Runs on a private Xvfb inside a network namespace with nothing but
# loopback (so the emulator's port 4000 is free and nothing leaves the machine); needs root
# for the namespace and skips otherwise. Expects the dev build (scripts/run builds what is
# missing).
set -euo pipefail
cd "$(dirname "$0")/../.."
. tests/support/xvfb.sh
. tests/support/loopback.sh

if ! loopback_only_permitted; then
    echo "quick start: SKIP (needs root for a network namespace with nothing but loopback)"
    exit 0
fi
if [ "${1:-}" != --inside ]; then
    exec timeout 300 "${loopback_only[@]}" "$0" --inside
fi

work=$(mktemp -d)
pids=()
# The demonstration's own folder is set aside for the run and put back after it.
kept=
if [ -e build/demo ]; then
    kept=$work/demo
    mv build/demo "$kept"
fi
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf build/demo
    [ -z "$kept" ] || mv "$kept" build/demo
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "quick start: FAIL: $1" >&2
    sed 's/^/    /' "$work/run.log" >&2 || true
    exit 1
}

start_xvfb 1024x768 || fail "no virtual display"
pids+=("$xvfb_pid")
display=$xvfb_display
DISPLAY=$display scripts/run >"$work/run.log" 2>&1 &
run=$!
window=
for _ in $(seq 300); do # 60 s at most: scripts/run checks the packages and the build first
    window=$(DISPLAY=$display xdotool search --onlyvisible --classname vm3870sim 2>/dev/null) && break
    kill -0 "$run" 2>/dev/null || fail "scripts/run ended before a window was shown"
    sleep 0.2
done
[ -n "$window" ] || fail "no window within 60 s"
grep -q 'Module emulator on 127.0.0.1:4000' "$work/run.log" || fail "the emulator is not on 127.0.0.1:4000"
grep -qx 'ADDRESS=127.0.0.1' build/demo/config/VM3870_SIMUL.conf || fail "the window is not pointed at the emulator"

# A click on Connect (the " TCP Information " frame at 30,60 twips, the button at 4680,300
# in it, 1155 x 375 twips: its middle is at 352,36 pixels at 96 DPI).
window=$(head -n 1 <<<"$window")
winpid=$(DISPLAY=$display xdotool getwindowpid "$window")
DISPLAY=$display xdotool mousemove --window "$window" 352 36 click 1
connected=no
for _ in $(seq 50); do # 10 s at most
    grep -q 'CONNECTED' build/demo/emulator-4000.log 2>/dev/null && { connected=yes; break; }
    sleep 0.2
done
kill "$winpid" 2>/dev/null || true
wait "$run" 2>/dev/null || true
[ "$connected" = yes ] || fail "Connect did not reach the emulator"
echo "quick start: PASS (scripts/run showed the window beside its emulator; Connect reached it)"
