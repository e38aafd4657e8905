#!/bin/bash
# The Windows build made on a Debian machine, in stages:
#
#   toolchain  tools/build-windows-toolchain.sh: Qt, QuaZip and SQLite for Windows from Debian's
#              source packages, cached in ~/.cache/panelhold (long the first time, then a check)
#   project    cross-builds the program, the companion, the stand-in, the demo seeder and the
#              tests into build-windows/, and puts the DLLs and Qt's plugins beside them
#   test       runs the tests under Wine, offscreen, in a Wine prefix of the build's own;
#              further arguments go to ctest (e.g. -R tst_platform)
#   installer  makes the NSIS installer from the build (CPack, Debian's makensis) and tries it
#              under Wine: tools/try-windows-installer.sh
#   all        the four in turn (the default)
#
# Environment: PANELHOLD_WIN_BUILD (default <source>/build-windows), BUILD_TYPE (Debug), JOBS (2).
set -euo pipefail

SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${PANELHOLD_WIN_BUILD:-$SOURCE_DIR/build-windows}
BUILD_TYPE=${BUILD_TYPE:-Debug}
JOBS=${JOBS:-2}

log() { printf '[build-windows %s] %s\n' "$(date +%H:%M:%S)" "$*" >&2; }
die() { log "error: $*"; exit 1; }

stage_toolchain() {
    local started=$SECONDS
    TOOLCHAIN=$("$SOURCE_DIR/tools/build-windows-toolchain.sh" | tail -n1)
    [ -e "$TOOLCHAIN/.complete" ] || die "the toolchain stage gave no toolchain"
    log "toolchain stage: $((SECONDS - started)) s"
}

# Each folder with programs gets the DLLs they load and the plugins Qt looks for beside them:
# the platform plugins (offscreen for the tests), the SQLite driver, the styles, image formats.
deploy_runtime() {
    local dir
    find "$BUILD_DIR" -name '*.exe' -not -path '*/CMakeFiles/*' -not -path "$BUILD_DIR/wineprefix/*" \
        -printf '%h\n' | sort -u | while read -r dir; do
        cp -u "$TOOLCHAIN"/bin/*.dll "$dir/"
        for plugins in platforms sqldrivers styles imageformats; do
            mkdir -p "$dir/$plugins"
            cp -u "$TOOLCHAIN/plugins/$plugins"/*.dll "$dir/$plugins/"
        done
    done
}

stage_project() {
    local started=$SECONDS
    local launcher=()
    if command -v ccache >/dev/null; then
        launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
        export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$SOURCE_DIR}
    fi
    cmake -S "$SOURCE_DIR" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE="$BUILD_TYPE" \
        -DCMAKE_TOOLCHAIN_FILE="$SOURCE_DIR/cmake/mingw-w64.cmake" \
        -DPANELHOLD_WIN_TOOLCHAIN="$TOOLCHAIN" "${launcher[@]}" >"$BUILD_DIR.configure.log" 2>&1 || {
        tail -n 30 "$BUILD_DIR.configure.log" >&2
        die "configuring the Windows build failed (log: $BUILD_DIR.configure.log)"
    }
    nice -n 19 cmake --build "$BUILD_DIR" -j"$JOBS"
    deploy_runtime
    log "project stage: $((SECONDS - started)) s"
}

# Qt Test's report to standard output does not come through Wine here (the programs' own
# printf does), so each failed test runs again writing its report to a file, and the first
# failures go into the log.
explain_failures() {
    local failed="$BUILD_DIR/Testing/Temporary/LastTestsFailed.log" name exe report
    [ -s "$failed" ] || return 0
    mkdir -p "$BUILD_DIR/wine-reports"
    cut -d: -f2 "$failed" | while read -r name; do
        exe=$(find "$BUILD_DIR/tests" "$BUILD_DIR/bin" -maxdepth 1 -name "$name.exe" | head -n1)
        [ -n "$exe" ] || continue
        report="$BUILD_DIR/wine-reports/$name.txt"
        (cd "$BUILD_DIR" && QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.qpa.*=false' \
            timeout 300 nice -n 19 "$SOURCE_DIR/tools/wine-run.sh" "$BUILD_DIR/wineprefix" \
            "$exe" -o "$report,txt" >/dev/null 2>&1) || true
        echo "---- $name (report: $report)"
        grep -E -A3 '^FAIL!' "$report" 2>/dev/null | head -n 12 || echo "(no report)"
    done
}

stage_test() {
    local started=$SECONDS status=0
    # Programs copied away from their folder (a test does that) still find Qt's DLLs.
    export WINEPATH="$TOOLCHAIN/bin${WINEPATH:+;$WINEPATH}"
    # The offscreen platform reads fonts from a folder (Qt ships none); tests measure text.
    if [ -z "${QT_QPA_FONTDIR:-}" ] && [ -d /usr/share/fonts/truetype/dejavu ]; then
        export QT_QPA_FONTDIR=Z:/usr/share/fonts/truetype/dejavu
    fi
    (cd "$BUILD_DIR" && nice -n 19 ctest --output-on-failure "$@") 2>&1 |
        tee "$BUILD_DIR/wine-tests.log" || status=$?
    [ $status = 0 ] || explain_failures 2>&1 | tee -a "$BUILD_DIR/wine-tests.log"
    log "test stage: $((SECONDS - started)) s (log: $BUILD_DIR/wine-tests.log)"
    return $status
}

stage_installer() {
    local started=$SECONDS installer
    command -v makensis >/dev/null || die "makensis is missing (apt-get install nsis)"
    rm -rf "$BUILD_DIR/installer"
    (cd "$BUILD_DIR" && nice -n 19 cpack -G NSIS -C "$BUILD_TYPE" -B "$BUILD_DIR/installer" \
        >"$BUILD_DIR/installer.log" 2>&1) || {
        tail -n 30 "$BUILD_DIR/installer.log" >&2
        die "making the installer failed (log: $BUILD_DIR/installer.log)"
    }
    installer=$(find "$BUILD_DIR/installer" -maxdepth 1 -name '*.exe' | head -n1)
    [ -n "$installer" ] || die "CPack made no installer (log: $BUILD_DIR/installer.log)"
    log "installer: $installer ($((SECONDS - started)) s)"
    "$SOURCE_DIR/tools/try-windows-installer.sh" "$installer" "$BUILD_DIR"
    log "installer stage: $((SECONDS - started)) s"
}

stage=${1:-all}
[ $# -gt 0 ] && shift
case "$stage" in
toolchain) stage_toolchain ;;
project)
    stage_toolchain
    stage_project
    ;;
test)
    stage_toolchain
    stage_test "$@"
    ;;
installer)
    stage_toolchain
    stage_installer
    ;;
all)
    stage_toolchain
    stage_project
    stage_test "$@"
    stage_installer
    ;;
*) die "unknown stage $stage; one of toolchain, project, test, installer, all" ;;
esac
