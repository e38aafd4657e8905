#!/usr/bin/env bash
# Installs what is missing, builds, runs every test offscreen, fuzzes the parsers briefly and
# makes a tiny bench run; then the whole suite once more under the sanitizers.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
"$top/tools/install-deps.sh"
"$top/tools/build.sh"
"$top/tools/check-windows.sh" "$top/build"
cd "$top/build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)"
"$top/tools/run-fuzz.sh"
# The whole suite again under ASan, LeakSanitizer and UBSan (build/asan).
"$top/tools/run-sanitizers.sh"
# A small bench run, so the bench keeps working; its figures are not checked.
"$top/bench/run.sh" --tiny
