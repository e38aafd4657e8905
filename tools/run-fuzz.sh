#!/usr/bin/env bash
# Builds the parsers' fuzzing targets (tests/fuzz) with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer into build/fuzz, and runs each for a few seconds on its generated
# seeds. Skips, saying so, when clang or libFuzzer is missing.
#   FUZZ_SECONDS  seconds per target (default 5)
#   FUZZ_CXX      the clang++ to use (default clang++-14, else clang++)
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$top/build/fuzz"
seconds="${FUZZ_SECONDS:-5}"
targets=(listing installermessages manifest feed appcast cipher hostnames boundedxml)

cxx="${FUZZ_CXX:-}"
if [ -z "$cxx" ]; then
    for candidate in clang++-14 clang++; do
        if command -v "$candidate" >/dev/null; then
            cxx="$candidate"
            break
        fi
    done
fi
if [ -z "$cxx" ]; then
    echo "run-fuzz: no clang++ found; fuzzing skipped (install clang-14 and libclang-rt-14-dev)"
    exit 0
fi

probe="$(mktemp -d)"
trap 'rm -rf "$probe"' EXIT
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }' \
    >"$probe/probe.cpp"
if ! "$cxx" -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" 2>/dev/null; then
    echo "run-fuzz: $cxx cannot link libFuzzer; fuzzing skipped (install libclang-rt-14-dev)"
    exit 0
fi

cmake -S "$top/tests/fuzz" -B "$build" -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build "$build" -j"$(nproc)"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export QT_QPA_PLATFORM=offscreen
# One target per core at a time; each writes its own log.
run_target() {
    local target="$1"
    local corpus="$build/corpus/$target"
    mkdir -p "$corpus" "$build/findings"
    local options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=16384
                   -artifact_prefix="$build/findings/$target-")
    [ -f "$build/seeds/$target.dict" ] && options+=(-dict="$build/seeds/$target.dict")
    "$build/fuzz_$target" "${options[@]}" "$corpus" "$build/seeds/$target" \
        >"$build/$target.log" 2>&1
}
echo "run-fuzz: ${targets[*]}, ${seconds}s each"
declare -A pids
for target in "${targets[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do
        wait -n || true
    done
    run_target "$target" &
    pids[$target]=$!
done
failed=()
for target in "${targets[@]}"; do
    if ! wait "${pids[$target]}"; then
        tail -n 40 "$build/$target.log"
        failed+=("$target")
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "run-fuzz: findings in ${failed[*]} (inputs kept in $build/findings)"
    exit 1
fi
echo "run-fuzz: no findings"
