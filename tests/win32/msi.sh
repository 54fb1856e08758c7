#!/usr/bin/env bash
# Installs the Windows installer under Wine as a user would, and checks what the user meets:
# the programs and both Start-menu shortcuts in place, the installed window opening, the installed
# command line running from the shortcut's prompt, an uninstall that removes the programs and keeps the Log folder and the
# settings, an older version replaced by this one, and an older version refused over this one.
# Runs in the Windows build's Wine prefix.
#
#   tests/win32/msi.sh <vm3870-x.y.z-win64.msi> [build-windows folder]
set -euo pipefail
msi=$(realpath "$1")
build=$(realpath "${2:-$(dirname "$0")/../../build-windows}")
wxs=$(realpath "$(dirname "$0")/../../dist/windows/vm3870.wxs")
wine=$(sed -n 's/^VM_WINE:FILEPATH=//p' "$build/CMakeCache.txt")
wineserver=$(sed -n 's/^VM_WINESERVER:FILEPATH=//p' "$build/CMakeCache.txt")
unset DISPLAY WAYLAND_DISPLAY
# No menu entries of the host desktop for the installed shortcuts.
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
[ -f "$WINEPREFIX/system.reg" ] || { echo "no Wine prefix in $build: run ctest --preset windows first" >&2; exit 1; }

failures=0
is() { [ "$1" = "$2" ] || { echo "     got \"$1\", wanted \"$2\""; return 1; }; }
check() { # check <what> <command...>
    local what=$1
    shift
    if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
msiexec() { "$wine" msiexec "$@" /qn; }
winpath() { "$wine" winepath -w "$1" 2>/dev/null; }

home=$WINEPREFIX/drive_c/users/$(whoami)
programs=$home/AppData/Local/Programs/vm3870
menu="$home/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/3870-3890 Module Test Tool"
settings='HKCU\Software\VM3870_SIMUL\vm3870sim'
version=$(basename "$msi" | sed -n 's/^vm3870-\(.*\)-win64\.msi$/\1/p')

"$wineserver" -w
"$wineserver" -p
trap '"$wineserver" -k || true' EXIT

msiexec /x "$(winpath "$msi")" >/dev/null 2>&1 || true # a run stopped half-way
check "msiexec /i installs" msiexec /i "$(winpath "$msi")"
for f in vm3870sim.exe vm3870ctl.exe vm3870ctl-prompt.cmd README.txt fixture.chk; do
    check "$f installed" test -f "$programs/$f"
done
check "shortcut to the window" test -f "$menu/3870-3890 Module Test Tool.lnk"
check "shortcut to the command prompt" test -f "$menu/vm3870ctl command prompt.lnk"
# The installed window opens (on a private virtual display), reading its settings.
if command -v Xvfb >/dev/null; then
    . "$(dirname "$0")/../support/xvfb.sh"
    start_xvfb 1024x768 || exit 1
    xvfb=$xvfb_pid
    display=$xvfb_display
    # A Wine server started without a display keeps its desktop headless: start a new one.
    "$wineserver" -k || true
    "$wineserver" -w
    DISPLAY=$display "$wine" "$programs/vm3870sim.exe" >/dev/null 2>&1 &
    opened=1
    for _ in $(seq 60); do
        DISPLAY=$display "$wine" "$build/window_probe.exe" >/dev/null 2>&1 && { opened=0; break; }
        sleep 0.5
    done
    check "the installed window opens" test "$opened" = 0
    "$wineserver" -k || true
    kill "$xvfb" 2>/dev/null || true
    "$wineserver" -p
fi
prompt=$(winpath "$programs/vm3870ctl-prompt.cmd")
shown=$(cd "$home" && "$wine" cmd /c "$prompt & vm3870ctl --version" 2>&1 | tr -d '\r')
check "vm3870ctl on the prompt's PATH ($version)" grep -q -x "vm3870ctl $version" <<<"$shown"

# What the user made: a daily file in the Log folder beside the program, and settings.
mkdir -p "$programs/Log"
echo "[10:00:00.000] RECV : 00" > "$programs/Log/20261207.txt"
"$wine" reg add "$settings" /v ADDRESS /t REG_SZ /d 127.0.0.1 /f >/dev/null
cp -r "$programs" "$build/msi-installed" # for the older version below

check "msiexec /x removes" msiexec /x "$(winpath "$msi")"
check "the programs removed" test ! -e "$programs/vm3870ctl.exe" -a ! -e "$programs/vm3870sim.exe" -a ! -e "$programs/README.txt"
check "the shortcuts removed" test ! -e "$menu"
check "the Log folder kept" test -f "$programs/Log/20261207.txt"
check "the settings kept" bash -c "'$wine' reg query '$settings' /v ADDRESS | grep -q 127.0.0.1"

# An older version of the same product, then this one over it: one product, this version.
older=$build/vm3870-1.0.0-win64.msi
(cd "$build/msi-installed" && cp "$build/vm3870sim.ico" . && wixl --arch x64 --define Version=1.0.0 \
    --output "$older" "$wxs")
check "the older version installs" msiexec /i "$(winpath "$older")"
check "this version installs over it" msiexec /i "$(winpath "$msi")"
# The versions of the product installed, as Windows Installer holds them (0xMMmmbbbb).
installed() {
    "$wine" reg query 'HKCU\Software\Microsoft\Installer\Products' /s 2>/dev/null | tr -d '\r' |
        awk '/ProductName .*3870\/3890 Module Test Tool/ { ours = 1 }
             ours && $1 == "Version" { print $3; ours = 0 }'
}
IFS=. read -r major minor patch <<<"$version"
this=$(printf '0x%x' $(((major << 24) | (minor << 16) | patch)))
check "one product left after the upgrade, this version ($(installed | xargs))" is "$(installed)" "$this"
check "the older version's uninstall leaves this one" test -f "$programs/vm3870ctl.exe"
# And back: the older version refuses to install over this one, which stays as it was.
check "the older version refuses to install over this one" eval '! msiexec /i "$(winpath "$older")"'
check "this version still the one installed ($(installed | xargs))" is "$(installed)" "$this"
check "its programs still there" test -f "$programs/vm3870ctl.exe" -a -f "$programs/vm3870sim.exe"
msiexec /x "$(winpath "$msi")" >/dev/null 2>&1
rm -rf "$build/msi-installed" "$older" "$programs/Log"

echo "$failures failed"
[ "$failures" -eq 0 ]
