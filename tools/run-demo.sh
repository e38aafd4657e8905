#!/usr/bin/env bash
# Installs what is missing, builds, seeds the demo environment (once) and starts Panelhold on it.
# Without a display it runs under Xvfb, saves demo-root/screenshot.png and ends.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/tools/install-deps.sh"
"$top/tools/build.sh"

demo="$top/demo-root"
"$top/build/bin/panelhold_demo_seed" "$demo/adobe" "$demo/samples"
export PANELHOLD_COMMON_APPDATA="$demo/adobe"
echo "Sample packages to install by drop or File > Install Extension: $demo/samples"
echo "What the console companion lists on it (build/bin/panelhold-cli --help tells the rest):"
"$top/build/bin/panelhold-cli" list --updates || true

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec "$top/build/bin/Panelhold"
fi

xvfb-run -a -s "-screen 0 1100x600x24" bash -c '
    "$1" & app=$!
    sleep "${PANELHOLD_DEMO_SECONDS:-6}"
    import -window root "$2"
    kill "$app" 2>/dev/null || true
    wait "$app" 2>/dev/null || true
' _ "$top/build/bin/Panelhold" "$demo/screenshot.png"
echo "No display: ran under Xvfb and saved $demo/screenshot.png"
