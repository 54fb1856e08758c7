#!/usr/bin/env bash
# Drives vm3870sim.exe under Wine as a user would: on a private virtual display (Xvfb), with real
# clicks and typed keys (xdotool), against the Linux emulator on loopback, reading the controls
# back through window_probe.exe (texts, enabled and checked states, the log list's lines).
#
#   tests/win32/window.sh [build-windows folder] [Linux build folder] [screenshot.png]
set -euo pipefail
here=$(dirname "$(realpath "$0")")
build=$(realpath "${1:-$here/../../build-windows}")
linux=$(realpath "${2:-$here/../../build}")
shot=${3:-}
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
display=
for n in $(seq 90 120); do
    [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ] || { display=:$n; break; }
done
[ -n "$display" ] || { echo "no free X display" >&2; exit 1; }
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
export DISPLAY=$display
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
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

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

start_emulator
reg delete "$settings" /f || true
reg add "$settings" /v ADDRESS /t REG_SZ /d 127.0.0.1 /f
reg add "$settings" /v PORT /t REG_SZ /d "$port" /f
start_window
# Nothing below may reach for an address off this machine.
[ "$(text txtDestIP)" = 127.0.0.1 ] || { echo "the window did not take 127.0.0.1 from the settings" >&2; exit 1; }

# Start: the window's first states.
check "caption" is "$(probe; sed -n 's/^window\t\([^\t]*\).*/\1/p' "$work/probe")" \
    "Velmora 3870/3890 Simulator Ver2.0 (2011.08.16)"
check "client area 744 x 638 at 96 DPI" grep -q $'^window\t.*\t744,638\t96$' "$work/probe"
check "R, OneTime Send and List chosen" eval 'checked optCommand_0 && checked optInterval_0 && checked optLog_0'
check "Disconnect and End greyed" eval 'disabled cmdDisconnect && disabled cmdEnd'
check "the interval box greyed, showing 1" is "$(value cboTime 3)$(text cboTime)" "01"
check "the pick lists greyed at their first entry" is "$(text ComboSet)$(text ComboValue)$(text ComboReset)$(value ComboSet 3)" "1010"
check "frame captions" is "$(text Frame1)|$(text Frame11_0)" " TCP Information | DO"

# The keyboard of a dialog: the focus starts in the address box; Tab and Shift+Tab walk the
# focus order; Space presses the focused button.
focused() { [ "$(value "$1" 5)" = 1 ]; }
check "the focus starts in the address box" focused txtDestIP
xdotool key Tab Tab
check "Tab, Tab: Connect" eventually focused cmdConnect
xdotool key shift+Tab
check "Shift+Tab: the port box" eventually focused txtDestPort
xdotool key Tab

# Connect (with Space on the focused button) and the buttons.
xdotool key space
check "connect: one \" Socket Connected!!\" line" eventually at_least count_lines "] Socket Connected!!" 1
check "connect: Connect greyed; Disconnect, Send, End enabled" eventually eval 'disabled cmdConnect && enabled cmdDisconnect && enabled cmdSend && enabled cmdEnd'
focus_name() { probe; awk -F'\t' '$5 == 1 && $3 == 1 { print $1 }' "$work/probe"; }
check "the focus moves on from the greyed Connect ($(focus_name))" eval '[ -n "$(focus_name)" ] && [ "$(focus_name)" != cmdConnect ]'

# Send R, T and C: the frames reach the module, the reply fills the boxes.
click cmdSend
check "Send R: NREQ reaches the module" eventually at_least requests "4E524551" 1
check "Send R: a SEND and a RECV line" eventually at_least count_lines " RECV : " 1
check "Send R: the DI boxes and the checksum filled" eval '[ -n "$(text txt_Input_0)" ] && [ -n "$(text txt_CheckSum)" ]'
click optCommand_0
xdotool key Down
check "Down in the command group: T chosen" eventually checked optCommand_1
check "T: Channel and Value enabled" eventually eval 'enabled ComboSet && enabled ComboValue'
click cmdSend
check "Send T: NT10 reaches the module" eventually at_least requests "4E543130" 1
click optCommand_2
click cmdSend
check "Send C: NC10 reaches the module" eventually at_least requests "4E433130" 1
check "SEND lines" is "$(count_lines ' SEND : ')" 3

# The key filter: letters into the address box beep and stay out.
click txtDestIP
xdotool key End
xdotool type --delay 60 "ab"
check "letters refused in the address box" is "$(text txtDestIP)" "127.0.0.1"

# Repeat at 0.01 s, then End. A Send locks the interval choice until End.
check "Send locked the interval choice" disabled optInterval_1
click cmdEnd
click optCommand_0
click optInterval_1
check "Repeat: the interval box enabled" eventually enabled cboTime
type_into cboTime "0.01x"
check "the interval typed, the letter refused" is "$(text cboTime)" "0.01"
before=$(requests 4E524551)
started=$(date +%s%N)
click cmdSend
sleep 2
click cmdEnd
ms=$((($(date +%s%N) - started) / 1000000))
sent=$(($(requests 4E524551) - before))
check "Repeat 0.01 s: at least 50 requests, at most 100 a second ($sent in $ms ms)" \
    test "$sent" -ge 50 -a "$sent" -le $((ms / 10 + 5))
sleep 0.5
settled=$(requests 4E524551)
sleep 0.5
check "End stops the repeat" is "$(requests 4E524551)" "$settled"
check "End: the interval box enabled again" enabled cboTime

# List + File: the RECV lines go to the daily file beside the program too.
click optInterval_0
click optLog_1
click cmdSend
today=$(date +%Y%m%d)
check "List + File: a RECV entry in Log\\$today.txt beside the program" \
    eventually grep -q " RECV : " "$build/Log/$today.txt"

# List Clear.
click cmdClear
check "List Clear empties the list" is "$(lines | wc -l)" 0

# A close by the module.
start_emulator --close-after 1
reg add "$settings" /v PORT /t REG_SZ /d "$port" /f
type_into txtDestPort "$port"
click cmdDisconnect
click cmdConnect
check "reconnected" eventually at_least count_lines "] Socket Connected!!" 1
click cmdSend
check "close by the module: one \" Socket Closed!!\" line" eventually at_least count_lines "] Socket Closed!!" 2
check "close by the module: Connect enabled, Disconnect greyed, Send enabled" eventually eval 'enabled cmdConnect && disabled cmdDisconnect && enabled cmdSend'

# The three frame lengths, and two frames in one arrival.
for frame in 33 57 merge; do
    if [ "$frame" = merge ]; then start_emulator --merge; else start_emulator --frame $frame; fi
    type_into txtDestPort "$port"
    click cmdClear
    click cmdSend # connects first (Send's wait), then writes
    want=1
    [ "$frame" = merge ] && want=2
    check "$frame: $want RECV line(s) for one Send" eventually at_least count_lines " RECV : " $want
    case $frame in
        33) check "33: the counters filled" eval '[ -n "$(text txtCounter_5)" ]' ;;
        57) check "57: the gap times filled" eval '[ -n "$(text txtGapTime_5)" ]' ;;
    esac
    click cmdDisconnect
done

# A port the socket cannot use gives a line, and no connect.
type_into txtDestPort "99999"
click cmdClear
click cmdConnect
check "bad port: one line, still not connected" eval '[ "$(lines | wc -l)" -eq 1 ] && enabled cmdConnect'

# Ping of 127.0.0.1 (the ICMP echo service under Wine needs root).
if [ "$(id -u)" -eq 0 ]; then
    click cmdClear
    click cmdPingStart
    check "ping: a result line for 127.0.0.1" eventually at_least count_lines "127.0.0.1" 1
    click cmdPingStop
    check "ping: \"Ping Test End~!!\"" eventually at_least count_lines "Ping Test End~!!" 1
else
    echo "skip ping: the ICMP echo under Wine needs root"
fi

# The settings come back from the registry after a restart.
type_into txtDestPort "$port"
click cmdEnd
click optInterval_1
eventually enabled cboTime
type_into cboTime "2"
[ -n "$shot" ] && { click cmdSend; sleep 0.5; xwd -root | xwdtopnm 2>/dev/null | pnmtopng >"$shot" || true; }
close_window
check "settings: the port in the registry" eval '"$wine" reg query "$settings" /v PORT | tr -d "\r" | grep -q "REG_SZ *$port\$"'
start_window
check "settings restored after a restart" is "$(text txtDestIP)|$(text txtDestPort)|$(text cboTime)" "127.0.0.1|$port|2"
close_window

echo "$failures failed"
[ "$failures" -eq 0 ]
