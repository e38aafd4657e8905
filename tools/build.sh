#!/usr/bin/env bash
# Configures and builds Panelhold, the stand-in tool and the tests into build/.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-Debug}" >/dev/null
cmake --build "$top/build" -j"$(nproc)"
