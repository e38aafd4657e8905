#!/bin/bash
# Runs a Windows program under Debian's Wine in a prefix of its own, quietly; the emulator the
# Windows build gives CMake and CTest.
#
# usage: tools/wine-run.sh <wine prefix folder> <program.exe> [arguments...]
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 <wine prefix> <program> [arguments...]" >&2; exit 2; }
export WINEPREFIX=$1
shift
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko: nothing here needs them, and their installers would ask.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# Wine keeps the build machine's QT_* variables from Windows programs unless they are named
# WINEQT_*; the tests' QT_QPA_PLATFORM=offscreen must reach them.
for name in $(compgen -e); do
    case $name in QT_*) export "WINE$name=${!name}" ;; esac
done
WINE=${PANELHOLD_WINE:-/usr/lib/wine/wine64}
[ -x "$WINE" ] || WINE=$(command -v wine64 || command -v wine) ||
    { echo "wine-run.sh: no wine64 (apt-get install wine64)" >&2; exit 2; }
# The first run creates the prefix; tests started side by side wait for it instead of racing.
mkdir -p "$(dirname "$WINEPREFIX")"
if [ ! -e "$WINEPREFIX/system.reg" ]; then
    (
        flock 9
        [ -e "$WINEPREFIX/system.reg" ] || "$WINE" wineboot --init >/dev/null 2>&1 || true
    ) 9>"$WINEPREFIX.lock"
fi
exec "$WINE" "$@"
