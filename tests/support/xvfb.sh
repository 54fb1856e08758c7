# A private virtual display for the script tests, sourced by them:
#   start_xvfb WIDTHxHEIGHT [LOG]
# starts Xvfb on a free display and returns once it takes connections (10 s at most); sets
# xvfb_display and xvfb_pid, or fails with a message and what Xvfb printed (kept in LOG when
# given). The search starts at a number of this process's own, so that tests run one after
# another do not reuse a display just closed, and the server never resets between clients.
start_xvfb() {
    local n i first=$((100 + $$ % 200)) log=${2:-}
    xvfb_display=
    for i in $(seq 0 299); do
        n=$((100 + (first - 100 + i) % 300))
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { xvfb_display=:$n; break; }
    done
    [ -n "$xvfb_display" ] || { echo "no free X display" >&2; return 1; }
    [ -n "$log" ] || log=$(mktemp)
    Xvfb "$xvfb_display" -screen 0 "${1}x24" -nolisten tcp -noreset >"$log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
        xdpyinfo -display "$xvfb_display" >/dev/null 2>&1 && return 0
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "Xvfb did not start on $xvfb_display:" >&2
    sed 's/^/    /' "$log" >&2
    return 1
}
