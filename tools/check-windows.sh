#!/usr/bin/env bash
# Checks that the Windows branches still compile, without a Windows machine: every C++ source
# the build compiles is compiled again, syntax only, by MinGW-w64 (so Q_OS_WIN is set) with the
# build's own flags against the installed Qt and QuaZip headers; the sources that differ with
# WinSparkle once more in that configuration; and windres reads the resource script.
#
# Diagnostics inside Qt's, QuaZip's and the compiler's own headers are noise (those headers come
# configured for Linux) and are only counted. Errors in the project's own files, or raised by
# the project's code in a library template ("required from" a project file), and fatal errors
# anywhere (the rest of that file went unchecked), fail the check.
#
# usage: tools/check-windows.sh [build dir]   (CHECK_WINDOWS_NOISE=1 shows the noise too)
# The build dir must have been built (generated headers, moc output, the icon file) with
# compile_commands.json, which the top CMakeLists.txt asks for.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$top/build}" && pwd)"
cd "$top"

cxx=x86_64-w64-mingw32-g++
windres=x86_64-w64-mingw32-windres
for tool in "$cxx" "$windres"; do
    if ! command -v "$tool" >/dev/null; then
        echo "check-windows: $tool is missing (tools/install-deps.sh installs it)"
        exit 2
    fi
done
for needed in compile_commands.json generated/panelhold.ico; do
    if [ ! -f "$build/$needed" ]; then
        echo "check-windows: $build/$needed is missing; build first (tools/build.sh)"
        exit 2
    fi
done

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/winsparkle" "$work/stubs" "$work/host" "$work/logs"

# QuaZip's headers include zlib's, which MinGW does not carry; the host's are plain C and serve.
for header in $(echo '#include <zlib.h>' | cpp -M - 2>/dev/null | tr -s ' \\' '\n' |
                grep -E '/z(lib|conf)\.h$'); do
    ln -s "$header" "$work/host/"
done

# WinSparkle's four calls as its header declares them, for the second configuration.
cat >"$work/winsparkle/winsparkle.h" <<'EOF'
#pragma once
#ifdef __cplusplus
extern "C" {
#endif
__declspec(dllimport) void __cdecl win_sparkle_set_appcast_url(const char *url);
__declspec(dllimport) void __cdecl win_sparkle_init(void);
__declspec(dllimport) void __cdecl win_sparkle_check_update_without_ui(void);
__declspec(dllimport) void __cdecl win_sparkle_check_update_with_ui(void);
__declspec(dllimport) void __cdecl win_sparkle_cleanup(void);
#ifdef __cplusplus
}
#endif
EOF

# The build's compile commands of the project's own sources (not the generated moc files), one
# a line, JSON escapes undone; CMake writes one key a line and ends each command with the source.
sed -n 's/^  "command": "\(.*\)",$/\1/p' "$build/compile_commands.json" |
    sed 's/\\"/"/g; s/\\\\/\\/g' | grep -v " -c $build/" >"$work/commands" || true
if [ ! -s "$work/commands" ]; then
    echo "check-windows: no compile commands found in $build/compile_commands.json"
    exit 2
fi

# Qt's platform definitions for MinGW rather than Linux, where Qt ships them.
win_mkspec="$(sed -n 's|.*-isystem \([^ ]*\)/linux-g++ .*|\1/win32-g++|p' "$work/commands" | sed -n 1p)"
[ -n "$win_mkspec" ] && [ ! -d "$win_mkspec" ] && win_mkspec=""

# The MinGW flags for one build command: the build's own, less what only the build's compiler
# or its output takes, in "flags"; the source in "source", relative to the top folder.
mingw_flags() {
    local command="$1" words=() skip_next=false word
    flags=()
    eval "words=($command)"
    source="$(realpath --relative-to="$top" "${words[${#words[@]} - 1]}")"
    for word in "${words[@]:1:${#words[@]}-2}"; do
        if $skip_next; then
            skip_next=false
            continue
        fi
        case "$word" in
        -o) skip_next=true ;;
        -c | -fPIC | -fPIE | -pie | -g* | -O* | -fsanitize* | -fno-sanitize* | -fprofile* | \
            -fcoverage* | -fno-omit-frame-pointer) ;;
        *linux-g++) flags+=("${win_mkspec:-$word}") ;;
        *) flags+=("$word") ;;
        esac
    done
    flags+=(-DUNICODE -D_UNICODE -idirafter "$work/host")
}

# The moc output a test includes at its end: the build's was made for Linux (slots under
# "#ifdef Q_OS_UNIX" included), and a syntax check needs none, so empty stand-ins come first.
sed 's/.* //' "$work/commands" | xargs grep -ho '^#include "[^"/]*\.moc"' 2>/dev/null |
    sed 's/#include "\(.*\)"/\1/' | while read -r moc; do : >"$work/stubs/$moc"; done

# Most time goes into Qt's headers, so the Qt headers a file would read first anyway are parsed
# once into a precompiled header that its check takes in their place: all of Qt Test for the
# tests, and for the window's parts the Qt headers of ui/mainwindow.h. Nothing is added to what
# a file sees. GCC takes a precompiled header only where the flags agree and otherwise reads the
# header itself, so the result is the same either way.
shared_qt_headers() {
    local source="$1"
    if grep -q '^#include \(<QtTest>\|".*testsupport\.h"\|"testenvironment\.h"\)' "$source"; then
        echo '#include <QtTest>'
    elif grep -q '^#include "ui/mainwindow\.h"' "$source"; then
        grep '^#include <' ui/mainwindow.h
    fi
}
build_shared_header() {
    local pch="$1" flags=() source
    mingw_flags "$2"
    "$cxx" "${flags[@]}" -x c++-header "$pch/shared.h" -o "$pch/shared.h.gch" >"$pch/log" 2>&1 ||
        rm -f "$pch/shared.h.gch"
    touch "$pch/done"
}

# Compiles one source, syntax only; config "winsparkle" adds WinSparkle, pch names the folder
# of the precompiled header to take.
compile_one() {
    local number="$1" config="$2" command="$3" pch="$4" flags=() source
    mingw_flags "$command"
    flags=(-I"$work/stubs" "${flags[@]}" -fsyntax-only)
    if [ "$config" = winsparkle ]; then
        flags+=(-DPANELHOLD_HAVE_WINSPARKLE -I"$work/winsparkle")
    fi
    if [ -n "$pch" ]; then
        until [ -f "$pch/done" ]; do sleep 0.2; done
        flags+=(-include "$pch/shared.h")
    fi
    "$cxx" "${flags[@]}" "$source" >"$work/logs/$number.log" 2>&1 || true
    printf '%s (%s)\n' "$source" "$config" >"$work/logs/$number.name"
}

# Tests last, so that most precompiled headers are ready before they are needed.
{
    grep -v '/tests/[^ ]*$' "$work/commands" || true
    grep '/tests/[^ ]*$' "$work/commands" || true
} >"$work/ordered"

jobs=0
running=0
parallel="$(nproc)"
declare -A pch_of_key=()
start_job() {
    "$@" &
    running=$((running + 1))
    if [ "$running" -ge "$parallel" ]; then
        wait -n || true
        running=$((running - 1))
    fi
}
while read -r command; do
    source="${command##* }"
    pch=""
    shared="$(shared_qt_headers "$source")"
    if [ -n "$shared" ]; then
        key="$(grep -o -- '-DQT_[A-Z]*_LIB' <<<"$command" | sort | tr '\n' ' ')$shared"
        if [ -z "${pch_of_key[$key]:-}" ]; then
            pch_of_key[$key]="$work/pch/${#pch_of_key[@]}"
            mkdir -p "${pch_of_key[$key]}"
            echo "$shared" >"${pch_of_key[$key]}/shared.h"
            start_job build_shared_header "${pch_of_key[$key]}" "$command"
        fi
        pch="${pch_of_key[$key]}"
    fi
    configs=(plain)
    if grep -q '#include "platform/selfupdate.h"' "$source"; then
        configs+=(winsparkle)
    fi
    for config in "${configs[@]}"; do
        jobs=$((jobs + 1))
        start_job compile_one "$jobs" "$config" "$command" "$pch"
    done
done <"$work/ordered"
wait

# Sorts one log's diagnostics: a project file's, or one raised from a project file's
# "required from" line, counts; the compiler driver's own errors count too (a flag it did not
# take means the file was not checked); anything else is noise from the libraries' headers.
classify='
function projectFile(path) {
    if (index(path, top "/") == 1)
        return 1
    return path !~ /^\// && (system("test -f \"" path "\"") == 0)
}
/: (fatal error|error|warning): / {
    split($0, parts, ":")
    kind = ($0 ~ /: warning: /) ? "warning" : "error"
    driver = (parts[1] ~ /(g\+\+|cc1plus)$/)
    # A fatal error ends the file wherever it happened: the rest of it went unchecked.
    fatal = ($0 ~ /: fatal error: /)
    ours = projectFile(parts[1]) || raisedByUs || fatal || (driver && kind == "error")
    if (ours && kind == "error") errors++
    else if (ours) warnings++
    else noise++
    raisedByUs = 0
    next
}
/required from/ { split($0, parts, ":"); if (projectFile(parts[1])) raisedByUs = 1 }
END { printf "%d %d %d\n", errors, warnings, noise }
'
errors=0
warnings=0
noise=0
for number in $(seq 1 "$jobs"); do
    log="$work/logs/$number.log"
    read -r e w n < <(awk -v top="$top" "$classify" "$log")
    errors=$((errors + e))
    warnings=$((warnings + w))
    noise=$((noise + n))
    if [ "$e" -gt 0 ] || [ "$w" -gt 0 ] || { [ -n "${CHECK_WINDOWS_NOISE:-}" ] && [ "$n" -gt 0 ]; }; then
        echo "---- $(cat "$work/logs/$number.name")"
        cat "$log"
    fi
done

# The resource scripts: icon, version, manifest (and the program's update feed URL).
for script in panelhold panelhold-cli; do
    if ! "$windres" -I "$build/generated" -I resources -O coff "resources/$script.rc" \
        -o "$work/$script-res.o" 2>"$work/windres.log"; then
        echo "---- resources/$script.rc (windres)"
        cat "$work/windres.log"
        errors=$((errors + 1))
    fi
done

echo "check-windows: $jobs MinGW compiles and windres: $errors project errors," \
    "$warnings project warnings, $noise diagnostics in library headers ignored"
[ "$errors" -eq 0 ]
