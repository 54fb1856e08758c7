#!/usr/bin/env bash
# Runs the examples of the README and docs/ that are marked as runnable, against the
# emulator, the way a reader would type them:
#
#   ```sh check          every line is run as written (one bash per block, set -e)
#   ```console check     a transcript: each "$ command" is run; it must exit 0, unless it
#                        ends in `; echo "exit $?"`, when the "exit N" line shown must be the
#                        one printed. "$ cat FILE" makes FILE from the lines shown under it
#                        when FILE does not exist yet.
#
# Usage: tests/docs/check.sh BUILD_DIR [FILE.md...]   (default: README.md and docs/*.md)
#
# Each file runs in a fresh folder holding `build/` (the programs of BUILD_DIR) with its own
# HOME, inside a network namespace with nothing but loopback, so that an example can reach
# no module but the emulators it starts. Needs root for the namespace; skips otherwise.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: tests/docs/check.sh BUILD_DIR [FILE.md...]}" && pwd)
shift
cd "$root"
. tests/support/loopback.sh
files=("$@")
[ ${#files[@]} -gt 0 ] || files=(README.md docs/*.md)

if ! loopback_only_permitted; then
    echo "docs check: SKIP (needs root for a network namespace with nothing but loopback)"
    exit 0
fi
for p in vm3870ctl vm3870emu; do
    [ -x "$build/$p" ] || { echo "docs check: $build/$p is missing; build it first" >&2; exit 1; }
done

# Writes, for one markdown file, a bash script that runs its marked blocks in order.
extract() {
    awk -v md="$1" '
    function q(s) { gsub(/\047/, "\047\\\047\047", s); return "\047" s "\047" }
    function flushcmd() {
        if (cmd == "") return
        print "run_cmd " q(md ":" cmdline) " " q(cmd) " " q(expect) " " q(catfile) " " q(shown)
        cmd = ""; expect = ""; catfile = ""; shown = ""
    }
    /^```/ {
        if (mode == "sh") { print "BLOCK_EOF"; mode = ""; next }
        if (mode == "console") { flushcmd(); mode = ""; next }
        if ($0 ~ /^```sh check[ \t]*$/) {
            mode = "sh"; print "run_block " q(md ":" NR) " <<" "\047BLOCK_EOF\047"; next
        }
        if ($0 ~ /^```console check[ \t]*$/) { mode = "console"; cont = 0; next }
        next
    }
    function emu(line) {
        # An emulator started in the background: started, and waited for until it listens.
        if (match(line, /^(build\/)?vm3870emu .*&[ \t]*$/)) {
            sub(/^(build\/)?vm3870emu/, "build/.emu-start", line); sub(/&[ \t]*$/, "", line)
        }
        return line
    }
    mode == "sh" { print emu($0); next }
    mode == "console" {
        if (cont) { cmd = cmd "\n" $0; cont = ($0 ~ /\\$/); next }
        if (substr($0, 1, 2) == "$ ") {
            flushcmd()
            cmd = emu(substr($0, 3)); cmdline = NR; cont = ($0 ~ /\\$/)
            if (match(cmd, /^cat [^ <>|;&]+$/)) catfile = substr(cmd, 5)
            next
        }
        if ($0 ~ /^exit [0-9]+$/ && cmd ~ /; echo "exit \$\?"$/) expect = $0
        shown = shown $0 "\n"
    }
    END { if (mode != "") { print "echo " q(md ": a block is not closed") " >&2; failed=1" } }
    ' "$1"
}

# The prelude every generated script starts with: the runners and the clean-up.
prelude() {
    cat <<'PRELUDE'
set -u
failed=0
run_block() { # WHERE, the block on stdin
    local where=$1 out
    out=$(mktemp)
    if ! timeout 60 bash -e -o pipefail /dev/stdin >"$out" 2>&1; then
        echo "docs check: FAIL $where: the block failed; its output:"
        tail -n 20 "$out" | sed 's/^/    /'
        failed=1
    else
        echo "docs check: ok $where"
    fi
    rm -f "$out"
}
run_cmd() { # WHERE COMMAND EXPECTED-EXIT-LINE CAT-FILE SHOWN-OUTPUT
    local where=$1 cmd=$2 expect=$3 catfile=$4 shown=$5 out rc=0
    if [ -n "$catfile" ] && [ ! -e "$catfile" ]; then printf '%s' "$shown" >"$catfile"; fi
    out=$(mktemp)
    timeout 60 bash -o pipefail -c "$cmd" >"$out" 2>&1 || rc=$?
    if [ -n "$expect" ]; then
        if ! grep -qx "$expect" "$out"; then
            echo "docs check: FAIL $where: shows '$expect', printed $(grep -x 'exit [0-9]*' "$out" || echo nothing)"
            tail -n 20 "$out" | sed 's/^/    /'
            failed=1
            rm -f "$out"
            return
        fi
    elif [ "$rc" -ne 0 ]; then
        echo "docs check: FAIL $where: exit $rc from: $cmd"
        tail -n 20 "$out" | sed 's/^/    /'
        failed=1
        rm -f "$out"
        return
    fi
    echo "docs check: ok $where"
    rm -f "$out"
}
PRELUDE
}

status=0
for md in "${files[@]}"; do
    grep -qE '^```(sh|console) check[[:space:]]*$' "$md" || continue
    work=$(mktemp -d "${TMPDIR:-/tmp}/vm3870-docs.XXXXXX")
    mkdir -p "$work/build" "$work/home"
    for p in vm3870ctl vm3870emu vm3870sim; do
        [ ! -x "$build/$p" ] || ln -s "$build/$p" "$work/build/$p"
    done
    # `vm3870emu ... &` in an example: the emulator is started in the background, and the
    # example goes on once it listens on every unit it stands in for, as a reader would.
    cat >"$work/build/.emu-start" <<'START'
#!/usr/bin/env bash
n=1 prev=
for a in "$@"; do [ "$prev" = --units ] && n=$a; prev=$a; done
log=$(mktemp "$PWD/emu.XXXXXX")
"$(dirname "$0")/vm3870emu" "$@" >"$log.log" 2>&1 &
echo $! >"$log.pid"
for _ in $(seq 100); do
    [ "$(grep -c 'listening on' "$log.log")" -ge "$n" ] && exit 0
    kill -0 "$(cat "$log.pid")" 2>/dev/null || break
    sleep 0.05
done
echo "the emulator did not listen:" >&2
cat "$log.log" >&2
exit 1
START
    chmod +x "$work/build/.emu-start"
    { prelude; extract "$md"; echo 'for p in emu.*.pid; do [ -e "$p" ] && kill "$(cat "$p")" 2>/dev/null; done; exit $failed'; } >"$work/check.sh"
        echo "docs check: $md"
    if ! (cd "$work" && HOME=$work/home XDG_CONFIG_HOME=$work/home/.config \
        XDG_DATA_HOME=$work/home/.local/share PATH="$work/build:$PATH" \
        timeout 300 "${loopback_only[@]}" bash check.sh); then
        status=1
    fi
    pkill -f "^$work/build/vm3870emu" 2>/dev/null || true
    rm -rf "$work"
done
[ "$status" -eq 0 ] && echo "docs check: every marked example ran as shown"
exit "$status"
