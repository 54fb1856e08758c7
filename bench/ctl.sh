#!/usr/bin/env bash
# Figures of vm3870ctl against the module emulator on loopback, and of its decoder on a
# large daily log file. Prints figures only; nothing is asserted.
#
#   bench/ctl.sh [build folder] [seconds] [MB]      (default build 10 100)
#
# 1. watch -i 0.001 -d SECONDS: replies a second and the CPU share of vm3870ctl;
# 2. watch -i 0 -d SECONDS (back to back): request-reply cycles a second;
# 3. decode --file of a daily log file of MB megabytes (RECV entries as the window files
#    them): MB a second, output to /dev/null, in each format.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
seconds=${2:-10}
megabytes=${3:-100}
. bench/common.sh

# The emulator's own report goes to a file, as a long run's does.
"$emu" --listen 127.0.0.1:0 > "$scratch/emu.log" &
emu_pid=$!
for _ in $(seq 100); do
    port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\),.*/\1/p' "$scratch/emu.log")
    [ -n "$port" ] && break
    sleep 0.05
done
[ -n "$port" ] || { echo "bench/ctl.sh: the emulator did not start" >&2; exit 1; }

cat > "$scratch/summary.py" <<'PY'
import json, sys
s = json.load(sys.stdin)["summary"]
user, system, real = (float(a) for a in sys.argv[1:4])
rtt = s["rtt_ms"]
print("watch -i %s -d %.0f: %.0f replies/s (%d requests, %d replies, %d timeouts, %d skipped"
      " slots), CPU %.1f %% of a core; rtt ms min %s median %s p95 %s max %s"
      % (sys.argv[4], s["seconds"], s["replies"] / s["seconds"], s["requests"], s["replies"],
         s["timeouts"], s["skipped"], 100 * (user + system) / real, rtt["min"], rtt["median"],
         rtt["p95"], rtt["max"]))
PY

watch() { # interval
    /usr/bin/time -f "%U %S %e" -o "$scratch/time" \
        "$ctl" -H 127.0.0.1 -p "$port" -f json watch -i "$1" -d "$seconds" > "$scratch/watch.json"
    read -r user sys real < "$scratch/time"
    tail -n 1 "$scratch/watch.json" | python3 "$scratch/summary.py" "$user" "$sys" "$real" "$1"
}
watch 0.001
watch 0

# A daily log file: each entry an empty line, the RECV line, an empty line, CR LF each.
python3 - "$scratch/log.txt" "$megabytes" <<'PY'
import sys
path, mb = sys.argv[1], int(sys.argv[2])
frames = ["4E313030313030303101000000000100007856341200000000FFFFFFFF00000100E4",
          "4E3130303130303031" + "01000000" * 6,
          "4E3130303130303031" + "01000000" * 6 + "DC050000" + "00000000" * 5]
with open(path, "w", newline="") as f:
    size, i = 0, 0
    while size < mb * 1_000_000:
        ms = i % 86_400_000
        entry = "\r\n[%02d:%02d:%02d.%03d] RECV : %s\r\n\r\n" % (
            ms // 3_600_000, ms // 60_000 % 60, ms // 1000 % 60, ms % 1000, frames[i % 3])
        f.write(entry)
        size += len(entry)
        i += 1
PY
bytes=$(stat -c %s "$scratch/log.txt")
for format in text json csv; do
    /usr/bin/time -f "%e %M" -o "$scratch/time" "$ctl" -f "$format" decode --file "$scratch/log.txt" > /dev/null
    read -r real rss < "$scratch/time"
    python3 -c "import sys; b, t, r, f = sys.argv[1:5]; print(f'decode -f {f} of {int(b) / 1e6:.0f} MB: {int(b) / 1e6 / float(t):.0f} MB/s ({t} s, peak RSS {int(r) // 1024} MB)')" \
        "$bytes" "$real" "$rss" "$format"
done
