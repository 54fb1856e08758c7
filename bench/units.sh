#!/usr/bin/env bash
# Figures of vm3870ctl over a line of units, all emulated by one vm3870emu --units N on
# consecutive loopback ports. Prints figures only; nothing is asserted.
#
#   bench/units.sh [build folder] [seconds]        (default build 30)
#
# 1. 64 units, watch -i 0.01 -d SECONDS; 2. 256 units, watch -i 0.1 -d SECONDS: replies a
#    second in all, skipped slots per unit (worst unit), CPU of vm3870ctl, RSS per unit;
# 3. run of the fixture script of docs/vm3870ctl.md on 1 unit and on 64: wall time.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
seconds=${2:-30}
. bench/common.sh
echo "date $(date -u +%FT%TZ); load $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores"

# A line of N emulated units from the first free port of 20000 + 400k.
line() {
    local n=$1
    [ -n "$emu_pid" ] && kill "$emu_pid" && wait "$emu_pid" 2>/dev/null || true
    for k in $(seq 0 20); do
        local first=$((20000 + 400 * k))
        "$emu" --units "$n" --listen "127.0.0.1:$first" --wire DO0=DI0,DO1=DI3 --still \
            > /dev/null 2> "$scratch/emu.err" &
        emu_pid=$!
        sleep 1
        if kill -0 "$emu_pid" 2>/dev/null; then
            for i in $(seq 1 "$n"); do echo "F$i 127.0.0.1:$((first + i - 1))"; done \
                > "$scratch/units.txt"
            return
        fi
    done
    echo "bench/units.sh: the emulator did not start: $(cat "$scratch/emu.err")" >&2
    exit 1
}

watch_figures() {
    local n=$1 interval=$2
    line "$n"
    /usr/bin/time -f "%U %S %M" -o "$scratch/time" \
        "$ctl" --units "$scratch/units.txt" watch -i "$interval" -d "$seconds" \
        > /dev/null 2> "$scratch/summary" || true
    read -r user sys rss < "$scratch/time"
    local all worst
    all=$(grep '^all .* units: rate' "$scratch/summary" | sed 's/.*rate: //')
    worst=$(grep -E '^F[0-9]+: [0-9]+ requests' "$scratch/summary" |
        sed -E 's/^.*: ([0-9]+) requests.* ([0-9]+) skipped slots.*/\2 \1/' |
        sort -n | tail -1)
    read -r skipped requests <<< "$worst"
    echo "$n units, watch -i $interval -d $seconds: $all"
    echo "  skipped slots, worst unit: $skipped of $((skipped + requests))" \
        "($(awk -v s="$skipped" -v r="$requests" 'BEGIN { printf "%.2f", 100 * s / (s + r) }') %)"
    echo "  CPU: $(awk -v u="$user" -v s="$sys" -v d="$seconds" \
        'BEGIN { printf "%.1f", 100 * (u + s) / d }') % of one core;" \
        "RSS $rss KiB in all, $((rss / n)) KiB per unit"
}

watch_figures 64 0.01
watch_figures 256 0.1

line 64
cat > "$scratch/fixture.chk" <<'SCRIPT'
reset A
set 1 1
expect DI0 == 1 within 50ms
set 1 0
expect DI0 == 0 within 50ms
expect counter0 >= 1
set 2 1
expect DI3 == 1 within 50ms
expect DI1 == 0
wait 200ms
status
finally
set A 0
SCRIPT
for units in 1 64; do
    head -"$units" "$scratch/units.txt" > "$scratch/some.txt"
    start=$(date +%s.%N)
    "$ctl" --units "$scratch/some.txt" run "$scratch/fixture.chk" > "$scratch/run.tap" || true
    echo "run of the fixture script on $units unit(s): $(awk -v s="$start" -v e="$(date +%s.%N)" \
        'BEGIN { printf "%.2f", e - s }') s wall; $(tail -1 "$scratch/run.tap")"
done
