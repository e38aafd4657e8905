#!/bin/bash
# Installs the Windows installer silently under Wine, in a Wine prefix made for this try, and
# checks what a user's machine would get: the files, the Start-menu shortcut, the file
# associations, the program and the companion running from where they were installed (against
# a stand-in root, never anything of Adobe's), text that is not ASCII in a console and in a
# pipe, and an uninstall that removes the files and gives ".zxp" back to its previous owner.
#
# usage: tools/try-windows-installer.sh <installer.exe> <Windows build folder>
set -euo pipefail
[ $# = 2 ] || { echo "usage: $0 <installer.exe> <Windows build folder>" >&2; exit 2; }
SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
INSTALLER=$(realpath "$1")
BUILD_DIR=$(realpath "$2")
WORK=$BUILD_DIR/installer-try
PREFIX=$WORK/wineprefix
failures=0

log() { printf '[try-installer %s] %s\n' "$(date +%H:%M:%S)" "$*" >&2; }
check() { # description, command...
    local what=$1
    shift
    if "$@"; then
        log "ok: $what"
    else
        log "FAILED: $what"
        failures=$((failures + 1))
    fi
}
wine_run() { LC_ALL=C.UTF-8 "$SOURCE_DIR/tools/wine-run.sh" "$PREFIX" "$@"; }
# The default value of a registry key, or nothing.
reg_default() { wine_run reg query "$1" /ve 2>/dev/null | tr -d '\r' | awk -F'REG_SZ' 'NF > 1 { sub(/^[ \t]+/, "", $2); print $2 }' | grep -v '^(value not set)$' || true; }

rm -rf "$WORK"
mkdir -p "$WORK"
wine_run wineboot --init >/dev/null 2>&1 || true
# Another program owns ".zxp" before us; the uninstaller must give it back.
wine_run reg add 'HKLM\Software\Classes\.zxp' /ve /d 'Other.Viewer.zxp' /f >/dev/null 2>&1

started=$SECONDS
log "installing $(basename "$INSTALLER") silently"
wine_run "$INSTALLER" /S >/dev/null 2>&1
log "installed in $((SECONDS - started)) s"
INSTDIR="$PREFIX/drive_c/Program Files/Velmora Panelhold"

for file in Panelhold.exe panelhold-cli.exe Uninstall.exe Qt5Core.dll Qt5Widgets.dll Qt5Sql.dll \
    Qt5Network.dll Qt5Xml.dll Qt5Concurrent.dll libquazip1-qt5.dll zlib1.dll libstdc++-6.dll \
    libgcc_s_seh-1.dll libwinpthread-1.dll platforms/qwindows.dll styles/qwindowsvistastyle.dll \
    sqldrivers/qsqlite.dll Resources/images/icon.png Contents/Support003/README.txt; do
    check "installed $file" test -f "$INSTDIR/$file"
done
check "no tests or stand-in installed" \
    test -z "$(find "$INSTDIR" -iname 'tst_*' -o -iname 'ExManCmd.exe' -o -iname 'Qt5Test*')"

# A shortcut names its target in its own encoding; its strings are enough to see which file.
shortcut=$(find "$PREFIX/drive_c" -path '*Start Menu*' -iname '*Panelhold*.lnk' | head -n1)
check "a Start-menu shortcut" test -n "$shortcut"
if [ -n "$shortcut" ]; then
    target=$( (strings -a "$shortcut"; strings -a -el "$shortcut") | grep -i '\\Panelhold\.exe' | head -n1 || true)
    log "shortcut target: $target"
    check "the shortcut opens the installed Panelhold.exe" \
        bash -c '[[ "$1" == *"Velmora Panelhold\\Panelhold.exe" && "$1" != *"\\bin\\"* ]]' _ "$target"
fi

for suffix in .zxp .mxp .ccx; do
    check "$suffix opens with Panelhold" \
        test "$(reg_default "HKLM\\Software\\Classes\\$suffix")" = Velmora.Panelhold.Package
done
command=$(reg_default 'HKLM\Software\Classes\Velmora.Panelhold.Package\shell\open\command')
log "open command: $command"
check "the open command starts the installed program with the package" \
    test "$command" = '"C:\Program Files\Velmora Panelhold\Panelhold.exe" "%1"'

# The installed programs against a stand-in root. For this try only, the stand-in tool goes in
# with its files (as Adobe's would), and Qt's offscreen platform, as no display is here.
root=$WORK/adobe
samples=$WORK/samples
wine_run "$BUILD_DIR/bin/panelhold_demo_seed.exe" "Z:$root" "Z:$samples" >/dev/null 2>&1
check "a stand-in root seeded" test -d "$root"
for generation in Support002 Support003; do
    cp -r "$BUILD_DIR/bin/Contents/$generation/." "$INSTDIR/Contents/$generation/"
done
cp "$BUILD_DIR/bin/platforms/qoffscreen.dll" "$INSTDIR/platforms/"
cyrillic=$(find "$samples" -name '*.zxp' -path '*Загрузки*' | head -n1)
check "a sample package in a folder named in Cyrillic" test -n "$cyrillic"
windows_package="Z:${cyrillic//\//\\}"
export PANELHOLD_COMMON_APPDATA="Z:$root"

wine_run "$INSTDIR/panelhold-cli.exe" list >"$WORK/list.txt" 2>"$WORK/list.err" || true
check "the installed companion lists the stand-in's extensions" grep -q 'Colour Harmony' "$WORK/list.txt"
wine_run "$INSTDIR/panelhold-cli.exe" inspect "$windows_package" >"$WORK/pipe.txt" 2>&1 || true
check "Cyrillic letters reach a pipe as UTF-8" grep -q 'Загрузки' "$WORK/pipe.txt"
# A console: script(1) gives Wine a terminal, which Wine shows as a Windows console.
script -qec "LC_ALL=C.UTF-8 '$SOURCE_DIR/tools/wine-run.sh' '$PREFIX' '$INSTDIR/panelhold-cli.exe' inspect '$windows_package'" \
    /dev/null >"$WORK/console.txt" 2>&1 </dev/null || true
check "Cyrillic letters reach a console intact" grep -q 'Загрузки' "$WORK/console.txt"

status=0
QT_QPA_PLATFORM=offscreen timeout 15 "$SOURCE_DIR/tools/wine-run.sh" "$PREFIX" \
    "$INSTDIR/Panelhold.exe" >"$WORK/window.log" 2>&1 || status=$?
check "the installed Panelhold.exe starts and keeps running (until stopped)" test $status = 124
# Ending Wine's loader leaves the program running inside the prefix: every process there ends.
WINEPREFIX=$PREFIX /usr/lib/wine/wineserver -k 2>/dev/null || true
unset PANELHOLD_COMMON_APPDATA
for generation in Support002 Support003; do
    find "$INSTDIR/Contents/$generation" -mindepth 1 -not -name README.txt -delete
done
rm -f "$INSTDIR/platforms/qoffscreen.dll"

started=$SECONDS
# The uninstaller copies itself away and goes on from there, so its end is waited for here.
wine_run "$INSTDIR/Uninstall.exe" /S >/dev/null 2>&1
for _ in $(seq 60); do
    [ -e "$INSTDIR/Uninstall.exe" ] || break
    sleep 1
done
log "uninstalled in $((SECONDS - started)) s"
check "uninstalling removed the program" test ! -e "$INSTDIR/Panelhold.exe"
check "uninstalling removed Qt" test ! -e "$INSTDIR/Qt5Core.dll"
check ".zxp is given back to its previous owner" \
    test "$(reg_default 'HKLM\Software\Classes\.zxp')" = Other.Viewer.zxp
check ".mxp, which had no owner, is let go" test -z "$(reg_default 'HKLM\Software\Classes\.mxp')"
check "nothing of the file type is left" \
    bash -c '! "$@" reg query "HKLM\Software\Classes\Velmora.Panelhold.Package" >/dev/null 2>&1' \
    _ "$SOURCE_DIR/tools/wine-run.sh" "$PREFIX"

if [ $failures -gt 0 ]; then
    log "$failures checks failed (files in $WORK)"
    exit 1
fi
log "every check passed"
