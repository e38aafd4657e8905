#!/usr/bin/env bash
# Takes the README's screenshots of the demo environment, light and dark, into docs/.
# Runs Panelhold under Xvfb on a fresh demo root and a throw-away home, so saved window
# placement or a desktop theme of the machine never shows in them.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/tools/install-deps.sh"
"$top/tools/build.sh"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$top/build/bin/panelhold_demo_seed" "$work/adobe" "$work/samples" >/dev/null

for theme in light dark; do
    rm -rf "${work:?}/home"
    mkdir -m 700 "$work/home"
    gtk_theme=""
    [ "$theme" = dark ] && gtk_theme="Adwaita:dark"
    env -u GTK_THEME HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" \
        XDG_DATA_HOME="$work/home/.local/share" XDG_RUNTIME_DIR="$work/home" \
        ${gtk_theme:+GTK_THEME="$gtk_theme"} PANELHOLD_COMMON_APPDATA="$work/adobe" \
        xvfb-run -a -s "-screen 0 1100x600x24" bash -c '
            "$1" & app=$!
            sleep "${PANELHOLD_DEMO_SECONDS:-6}"
            import -window "Velmora'"'"'s Panelhold" "$2"
            kill "$app" 2>/dev/null || true
            wait "$app" 2>/dev/null || true
        ' _ "$top/build/bin/Panelhold" "$work/$theme.png"
    # A palette of 64 colours keeps each picture small and looks the same at this size.
    convert "$work/$theme.png" -strip +dither -colors 64 PNG8:"$top/docs/screenshot-$theme.png"
    echo "Saved docs/screenshot-$theme.png"
done
