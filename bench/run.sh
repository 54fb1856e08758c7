#!/usr/bin/env bash
# Start-up and idle figures of the tool against an empty Qt window, on a private Xvfb
# display without a window manager. Prints figures only; nothing is asserted.
#
#   bench/run.sh [build folder] [start-up runs] [idle seconds]     (default build 10 10)
#
# The tool runs with settings and data folders in a scratch folder, so the user's own
# settings are not touched; its Log folder is the one beside the program in the build.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-10}
seconds=${3:-10}

for f in "$build/vm3870sim" "$build/bench/bench_empty_window" "$build/bench/bench_driver"; do
    if [ ! -x "$f" ]; then
        echo "bench/run.sh: $f is missing; build with -DVM_BENCHMARKS=ON (needs libxcb1-dev)." >&2
        exit 1
    fi
done
if ! command -v xvfb-run >/dev/null 2>&1; then
    echo "bench/run.sh: xvfb-run is missing (Debian: xvfb xauth)." >&2
    exit 1
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data"
export XDG_RUNTIME_DIR="$scratch/runtime" QT_QPA_PLATFORM=xcb
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

echo "$(nproc) cores, $(uname -r), $(date -u +%Y-%m-%dT%H:%MZ)"
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
    "$build/bench/bench_driver" startup "$runs" "$PWD/$build/vm3870sim" \
    "$PWD/$build/bench/bench_empty_window"
xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
    "$build/bench/bench_driver" idle "$seconds" "$PWD/$build/vm3870sim" \
    "$PWD/$build/bench/bench_empty_window"
