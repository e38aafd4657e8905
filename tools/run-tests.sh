#!/usr/bin/env bash
# Installs what is missing, builds, runs every test offscreen, then fuzzes the parsers briefly.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/tools/install-deps.sh"
"$top/tools/build.sh"
cd "$top/build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
"$top/tools/run-fuzz.sh"
