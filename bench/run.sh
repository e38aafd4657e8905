#!/usr/bin/env bash
# Builds and runs the bench: start-up, refreshes and the extension table at hundreds of
# extensions, each figure beside its floor (see "The bench" in README.md).
#
#   bench/run.sh [--release] [--tiny] [--platform auto|xcb|xvfb|offscreen] [bench options...]
#
# --release   builds and measures a Release build in build-release/ (else build/, Debug)
# --tiny      a small, quick scenario (2 hosts, 10 extensions, 1 run); what CI runs
# --platform  auto (default), xcb, xvfb or offscreen. auto: the display in DISPLAY, else Xvfb
#             through xvfb-run when it is installed, else offscreen. --tiny defaults to offscreen
# Every other option goes to the bench itself (--help lists them).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"

build_dir="$top/build"
build_type=Debug
platform=""
tiny=0
args=()
while [ $# -gt 0 ]; do
    case "$1" in
        --release) build_dir="$top/build-release"; build_type=Release ;;
        --tiny) tiny=1; args+=("$1") ;;
        --platform) platform="${2:?--platform needs a value}"; shift ;;
        *) args+=("$1") ;;
    esac
    shift
done
if [ -z "$platform" ]; then
    if [ "$tiny" -eq 1 ]; then platform=offscreen; else platform=auto; fi
fi

if [ "$build_type" = Release ] || [ ! -f "$build_dir/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$build_dir" -DCMAKE_BUILD_TYPE="$build_type" >/dev/null
fi
build_log="$(mktemp)"
if ! cmake --build "$build_dir" --target panelhold_bench -j2 >"$build_log" 2>&1; then
    cat "$build_log"
    rm -f "$build_log"
    exit 1
fi
rm -f "$build_log"
bench="$build_dir/bench/panelhold_bench"

if [ "$platform" = auto ]; then
    if [ -n "${DISPLAY:-}" ]; then
        platform=xcb
    elif command -v xvfb-run >/dev/null 2>&1; then
        platform=xvfb
    else
        platform=offscreen
    fi
fi
case "$platform" in
    xcb) exec env QT_QPA_PLATFORM=xcb "$bench" "${args[@]}" ;;
    xvfb) exec xvfb-run -a -s "-screen 0 1600x1200x24" env QT_QPA_PLATFORM=xcb "$bench" "${args[@]}" ;;
    offscreen) exec env QT_QPA_PLATFORM=offscreen "$bench" "${args[@]}" ;;
    *) echo "unknown platform: $platform (auto, xcb, xvfb or offscreen)" >&2; exit 2 ;;
esac
