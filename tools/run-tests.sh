#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test offscreen.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/tools/install-deps.sh"
"$top/tools/build.sh"
"$top/tools/check-windows.sh" "$top/build"
cd "$top/build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
