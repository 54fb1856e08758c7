#!/usr/bin/env bash
# Drives vm3870sim.exe under Wine as a user would: on a private virtual display (Xvfb), with real
# clicks and typed keys (xdotool), against the Linux emulator on loopback, reading the controls
# back through window_probe.exe (texts, enabled and checked states, the log list's lines).
#
#   tests/win32/window.sh [build-windows folder] [Linux build folder] [screenshot.png]
set -euo pipefail
here=$(dirname "$(realpath "$0")")
shot=${3:-}
source "$here/driver.sh"


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
# The window repeats, and never faster than its interval. How close it keeps to the interval
# depends on how busy the machine is: the benchmark measures that, not this test.
check "Repeat 0.01 s: more than one request, at most 100 a second ($sent in $ms ms)" \
    test "$sent" -ge 3 -a "$sent" -le $((ms / 10 + 5))
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

# A repeat at 0.001 s runs the list past its limit: it keeps the newest 1001 lines (it trims
# to 1000, then adds), and its RECV lines are the daily file's newest, one for one and in order.
click cmdEnd # the Send above locked the interval choice
click optInterval_1
type_into cboTime "0.001"
before=$(requests 4E524551)
click cmdSend
# Two lines a cycle: 600 replies run the list well past its limit (30 s at most).
for _ in $(seq 120); do
    [ "$(requests 4E524551)" -ge $((before + 600)) ] && break
    sleep 0.25
done
click cmdEnd
sleep 0.5 # the last reply, and the list taking it
settled=$(requests 4E524551)
lines >"$work/list"
check "fast repeat: End stops it" is "$(requests 4E524551)" "$settled"
check "fast repeat: the list holds its newest 1001 lines" is "$(wc -l <"$work/list")" 1001
grep " RECV : " "$work/list" >"$work/list-recv" || true
grep " RECV : " "$build/Log/$today.txt" | tr -d '\r' | tail -n "$(wc -l <"$work/list-recv")" >"$work/file-recv"
check "fast repeat: the list's $(wc -l <"$work/list-recv") RECV lines are the daily file's newest" \
    cmp -s "$work/list-recv" "$work/file-recv"
check "fast repeat: the newest line last" is "$(tail -n 1 "$work/list")" "$(tail -n 1 "$work/list-recv")"
click optInterval_0

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

# At 144 DPI the window scales its twips: 1.5 times the pixels of 96 DPI.
reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f
start_window
check "144 DPI: client area 1116 x 957" is "$(probe; sed -n 's/^window\t[^\t]*\t\([^\t]*\).*/\1/p' "$work/probe")" "1116,957"
check "144 DPI: the TCP Information frame 728 pixels wide" is "$(value Frame1 6 | cut -d, -f3)" 728
close_window
reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f

# Alt+Tab to another program and back: the focus is in the field it was in. This needs a
# window manager to switch windows, so the window is managed by one for this row only.
if command -v openbox >/dev/null && command -v xlogo >/dev/null; then
    reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d Y /f
    openbox --sm-disable >"$work/openbox.log" 2>&1 &
    wm=$!
    for _ in $(seq 50); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break; sleep 0.1; done
    start_window
    xlogo -geometry 200x200+1000+780 2>/dev/null &
    other=$!
    for _ in $(seq 50); do xdotool search --name '^xlogo$' >/dev/null 2>&1 && break; sleep 0.1; done
    xdotool windowactivate --sync "$(xdotool search --name "Simulator Ver2.0" | head -1)"
    click txtDestPort
    check "Alt+Tab: the port box has the focus before" eventually focused txtDestPort
    xdotool key alt+Tab
    check "Alt+Tab: the other program is active" eventually eval '[ "$(xdotool getactivewindow getwindowname)" = xlogo ]'
    xdotool key alt+Tab
    check "Alt+Tab back: the focus is in the port box again" eventually focused txtDestPort
    close_window
    kill "$other" "$wm" 2>/dev/null || true
    wait "$other" "$wm" 2>/dev/null || true
else
    echo "skip Alt+Tab: needs openbox and xlogo (scripts/deps installs them)"
fi

echo "$failures failed"
[ "$failures" -eq 0 ]
