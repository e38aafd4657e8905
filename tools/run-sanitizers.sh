#!/usr/bin/env bash
# Builds everything (the stand-in and the tests included) with AddressSanitizer, its leak
# checker and UndefinedBehaviorSanitizer into build/asan, and runs the whole suite there.
# Exits non-zero on a failed test or on any sanitizer report, also one from a child program
# (the stand-in tool, panelhold-cli): every report goes to a file in build/asan/findings, so a
# child's report is not lost in output its test does not show.
#   JOBS  parallel build jobs and tests (default 2)
#   CTEST_ARGS  more arguments for ctest, e.g. "-R tst_installation"
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$top/build/asan"
jobs="${JOBS:-2}"

launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$top" -B "$build" -DPANELHOLD_SANITIZE=ON "${launcher[@]}" >/dev/null
nice -n 5 cmake --build "$build" -j"$jobs"

findings="$build/findings"
rm -rf "$findings"
mkdir -p "$findings"
# Only Qt's own leaks and those of the system libraries it loads are suppressed (lsan.supp).
export ASAN_OPTIONS="detect_leaks=1:log_path=$findings/asan"
export LSAN_OPTIONS="suppressions=$top/tools/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$findings/ubsan"
export QT_QPA_PLATFORM=offscreen

status=0
# shellcheck disable=SC2086 # CTEST_ARGS is split on purpose
(cd "$build" && ctest --output-on-failure -j"$jobs" ${CTEST_ARGS:-}) || status=1

reports=("$findings"/*)
if [ -e "${reports[0]}" ]; then
    for report in "${reports[@]}"; do
        echo "=== $report"
        cat "$report"
    done
    echo "run-sanitizers: ${#reports[@]} sanitizer report(s), kept in $findings" >&2
    status=1
fi
exit "$status"
