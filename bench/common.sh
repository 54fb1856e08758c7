# What the command-line benchmarks share, sourced by them after `build=`:
# the programs checked, a scratch folder removed on exit (with the emulator, when emu_pid is
# set), and the window's settings kept out of the way.
ctl="$build/vm3870ctl"
emu="$build/vm3870emu"
for f in "$ctl" "$emu"; do
    [ -x "$f" ] || { echo "$0: $f is missing; build it first." >&2; exit 1; }
done
scratch=$(mktemp -d)
emu_pid=
cleanup() {
    [ -n "$emu_pid" ] && kill "$emu_pid" 2>/dev/null && wait "$emu_pid" 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT
export XDG_CONFIG_HOME="$scratch/config"
