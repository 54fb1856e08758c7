# The driver of the window tests and benchmarks under Wine, sourced by them: a private Xvfb
# display, the Linux emulator on loopback, the window started and closed, real clicks and keys
# from xdotool, and the controls read back through window_probe.exe.
#   here=<tests/win32>; source "$here/driver.sh" [build-windows folder] [Linux build folder]
# Sets: build, linux, wine, wineserver, work, port, settings; functions below.
build=$(realpath "${1:-$here/../../build-windows}")
linux=$(realpath "${2:-$here/../../build}")
wine=$(sed -n 's/^VM_WINE:FILEPATH=//p' "$build/CMakeCache.txt")
wineserver=$(sed -n 's/^VM_WINESERVER:FILEPATH=//p' "$build/CMakeCache.txt")
emulator=$linux/vm3870emu
for tool in Xvfb xdotool xwd; do
    command -v $tool >/dev/null || { echo "$tool is missing (scripts/deps installs it)" >&2; exit 1; }
done
[ -x "$emulator" ] || { echo "no $emulator: build the Linux emulator first" >&2; exit 1; }

# A Wine server left running without a display would keep the window's desktop headless.
"$wineserver" -k 2>/dev/null || true
"$wineserver" -w
work=$(mktemp -d)
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
unset WAYLAND_DISPLAY
. "$here/../support/xvfb.sh"
start_xvfb 1280x1024 "$work/xvfb.log" || exit 1
xvfb=$xvfb_pid
export DISPLAY=$xvfb_display
emu=
window=
cleanup() {
    [ -n "$window" ] && kill "$window" 2>/dev/null
    [ -n "$emu" ] && kill "$emu" 2>/dev/null
    "$wineserver" -k 2>/dev/null || true
    kill "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
check() { # check <what> <command...>
    local what=$1
    shift
    if "$@"; then
        echo "ok   $what"
    else
        echo "FAIL $what"
        failures=$((failures + 1))
        # What the window showed last, of the controls the check names.
        for word in $*; do
            [ -f "$work/probe" ] && awk -F'\t' -v n="$word" '$1 == n { print "     " $0 }' "$work/probe"
        done
    fi
}
reg() { "$wine" reg "$@" >/dev/null 2>&1; }
settings='HKCU\Software\VM3870_SIMUL\vm3870sim'
# Wine draws the caption and border itself: there is no window manager on the display.
reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f # a run stopped at 144 DPI

# --- the emulator, restarted with the options a row needs
# A port the window can use (at most 32767), so not one the system picks.
start_emulator() {
    [ -n "$emu" ] && kill "$emu" 2>/dev/null && wait "$emu" 2>/dev/null
    for _ in $(seq 20); do
        port=$((20000 + RANDOM % 12000))
        "$emulator" --listen "127.0.0.1:$port" "$@" >"$work/emu.out" 2>&1 &
        emu=$!
        for _ in $(seq 50); do
            grep -q "listening on" "$work/emu.out" && return 0
            kill -0 "$emu" 2>/dev/null || break
            sleep 0.1
        done
    done
    echo "the emulator did not start" >&2
    exit 1
}
requests() { grep -c " REQ $1" "$work/emu.out" || true; }

# --- the window and what it shows
start_window() {
    "$wine" "$build/vm3870sim.exe" >"$work/window.log" 2>&1 &
    window=$!
    for _ in $(seq 100); do
        probe >/dev/null 2>&1 && return 0
        sleep 0.2
    done
    echo "the window did not open" >&2
    exit 1
}
close_window() {
    xdotool windowfocus --sync "$(xdotool search --name "Simulator Ver2.0" | head -1)" key alt+F4 || true
    for _ in $(seq 50); do kill -0 "$window" 2>/dev/null || break; sleep 0.2; done
    window=
}
# One reading of the window by the probe, which stays running (a Wine program takes a while to
# start); false when no window is open.
mkfifo "$work/to-probe" "$work/from-probe"
"$wine" "$build/window_probe.exe" --serve <"$work/to-probe" >"$work/from-probe" 2>/dev/null &
exec 7>"$work/to-probe" 8<"$work/from-probe"
probe() {
    local line
    echo >&7
    : >"$work/probe"
    while IFS= read -r -t 30 line <&8; do
        line=${line%$'\r'}
        [ "$line" = . ] && break
        printf '%s\n' "$line" >>"$work/probe"
    done
    ! grep -q '^no window' "$work/probe"
}
# The column of a control's line: 3 enabled, 4 checked, 5 focused, 6 rectangle, 7 text.
value() { probe; awk -F'\t' -v n="$1" -v c="$2" '$1 == n { print $c }' "$work/probe"; }
text() { value "$1" 7; }
enabled() { [ "$(value "$1" 3)" = 1 ]; }
disabled() { [ "$(value "$1" 3)" = 0 ]; }
checked() { [ "$(value "$1" 4)" = 1 ]; }
lines() { probe; sed -n 's/^line\t//p' "$work/probe"; }
count_lines() { lines | grep -c -- "$1" || true; }
is() { [ "$1" = "$2" ] || { echo "     got \"$1\", wanted \"$2\""; return 1; }; }
# Waits (at most 10 s) until the command succeeds.
eventually() {
    for _ in $(seq 40); do "$@" >/dev/null 2>&1 && return 0; sleep 0.25; done
    "$@"
}
at_least() { [ "$($1 "$2")" -ge "$3" ]; }
click() {
    local r x y w h
    r=$(value "$1" 6)
    IFS=, read -r x y w h <<<"$r"
    xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
    sleep 0.2
}
# Clicks into a field, empties it with the keyboard and types the text.
type_into() {
    click "$1"
    xdotool key End
    for _ in $(seq 16); do xdotool key BackSpace; done
    xdotool type --delay 60 "$2"
    sleep 0.3
}
