#!/usr/bin/env bash
# The Debian package as a user meets it: built by scripts/package-linux, checked by lintian
# (an error fails), installed for real with apt, its programs run from /usr/bin whatever else
# PATH holds (versions, manual pages, cap_net_raw, the window mapped on a private Xvfb), then
# purged, leaving nothing of it under /usr. Needs root, as CI runs it; skips with a message
# otherwise. The package never stays installed: whatever fails, the exit purges it.
set -euo pipefail
cd "$(dirname "$0")/../.."
. tests/support/xvfb.sh

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: the package test installs with apt and needs root"
    exit 0
fi
if dpkg-query -W -f='${Status}' vm3870 2>/dev/null | grep -q 'install ok installed'; then
    echo "SKIP: vm3870 is installed already, and the package test would purge it"
    exit 0
fi

work=$(mktemp -d)
chmod 755 "$work" # apt reads the package as its own user
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    if dpkg-query -W -f='${Status}' vm3870 2>/dev/null | grep -q 'installed'; then
        apt-get purge -y -qq vm3870 >/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

scripts/package-linux "$work/out" >/dev/null
deb=$(echo "$work"/out/vm3870_*.deb)
version=$(dpkg-deb -f "$deb" Version)
[ "$deb" = "$work/out/vm3870_${version}_$(dpkg --print-architecture).deb" ] ||
    fail "the file name $deb does not carry the version $version"

echo "== lintian"
lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian reports errors"

echo "== apt-get install"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >"$work/install.log" 2>&1 ||
    { cat "$work/install.log" >&2; fail "apt-get install"; }
dpkg -L vm3870 | sort >"$work/files"

for program in vm3870sim vm3870ctl vm3870emu; do
    [ "$("/usr/bin/$program" --version)" = "$program $version" ] || fail "$program --version"
    man -w "$program" >/dev/null || fail "no manual page for $program"
done
for program in vm3870sim vm3870ctl; do
    getcap "/usr/bin/$program" | grep -q cap_net_raw || fail "$program lacks cap_net_raw"
done

echo "== the window under Xvfb"
start_xvfb 1024x768 || fail "no virtual display"
pids+=("$xvfb_pid")
display=$xvfb_display
mkdir -m 700 "$work/run"
HOME=$work/home XDG_RUNTIME_DIR=$work/run DISPLAY=$display timeout 30 /usr/bin/vm3870sim \
    >"$work/window.log" 2>&1 &
pids+=($!)
window=
for _ in $(seq 50); do  # 10 s at most
    window=$(DISPLAY=$display xdotool search --onlyvisible --classname vm3870sim 2>/dev/null) &&
        break
    sleep 0.2
done
[ -n "$window" ] || { cat "$work/window.log" >&2; fail "vm3870sim mapped no window in 10 s"; }
[ -d "$work/home/.local/share/vm3870sim/Log" ] || fail "the installed window made no Log folder"

echo "== apt-get purge"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq vm3870 >/dev/null
while read -r path; do
    if [ -e "$path" ] && [ ! -d "$path" ]; then fail "purge left $path"; fi
done <"$work/files"
left=$(find /usr -name 'vm3870*' -print)
[ -z "$left" ] || fail "purge left: $left"
echo "PASS: vm3870 $version built, checked, installed, run and purged"
