#!/bin/bash
# Cross-builds what the Windows build links against, from Debian's own source packages: SQLite
# (a static library for Qt's driver), Qt 5.15 qtbase with only the parts the project uses, and
# QuaZip against Debian's MinGW zlib. The result goes to
# ~/.cache/panelhold/win-toolchain-<key>, the key hashing the source versions, the compiler and
# this script, so a second run only checks the cache. A half-finished build is picked up again;
# the cache entry appears only when complete. Prints the toolchain folder on its last line.
#
# Needs root once (apt-get: the cross compiler, MinGW zlib, Wine, a deb-src entry).
# Environment: PANELHOLD_CACHE (default ~/.cache/panelhold), JOBS (default 2).
# With --cached-only it builds nothing: exit status 3 when the toolchain is not in the cache.
set -euo pipefail
ONLY_CACHED=0
[ "${1:-}" = --cached-only ] && ONLY_CACHED=1

SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SCRIPT="$SOURCE_DIR/tools/build-windows-toolchain.sh"
CACHE_ROOT=${PANELHOLD_CACHE:-$HOME/.cache/panelhold}
JOBS=${JOBS:-2}
TRIPLET=x86_64-w64-mingw32
WINE=/usr/lib/wine/wine64
PACKAGES=(g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 nsis dpkg-dev tcl perl python3
          cmake make xz-utils)
# Source packages: Qt's base module, SQLite for the Qt driver, QuaZip.
SOURCES=(qtbase-opensource-src sqlite3 libquazip1-qt5)
DEB_SRC_LIST=/etc/apt/sources.list.d/panelhold-deb-src.sources

log() { printf '[windows-toolchain %s] %s\n' "$(date +%H:%M:%S)" "$*" >&2; }
die() { log "error: $*"; exit 1; }

ensure_packages() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$p")
    done
    local need_update=0
    if [ ! -e "$DEB_SRC_LIST" ]; then
        [ "$(id -u)" = 0 ] || die "needs root once to add $DEB_SRC_LIST"
        # The same mirrors and suites as the machine's own deb stanzas, for source packages.
        local from=/etc/apt/sources.list.d/debian.sources
        [ -r "$from" ] || die "no $from to take the mirror from; add a deb-src entry by hand"
        sed -e 's/^Types:.*/Types: deb-src/' "$from" >"$DEB_SRC_LIST.tmp"
        mv "$DEB_SRC_LIST.tmp" "$DEB_SRC_LIST"
        need_update=1
    fi
    if [ ${#missing[@]} -gt 0 ]; then
        [ "$(id -u)" = 0 ] || die "needs root to install: ${missing[*]}"
        need_update=1
    fi
    if [ $need_update = 1 ]; then
        log "apt-get update"
        apt-get update -q >/dev/null
    fi
    if [ ${#missing[@]} -gt 0 ]; then
        log "installing ${missing[*]}"
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
            "${missing[@]}" >/dev/null
    fi
}

source_version() {
    apt-cache showsrc "$1" 2>/dev/null | sed -n 's/^Version: //p' | sort -V | tail -n1
}

# The key names everything the toolchain is made from: the source versions, the compiler and
# this script (a changed option rebuilds instead of reusing a toolchain made differently).
# The work folder is keyed without the script, so a mended script resumes a half-done build.
sources_key() {
    {
        for s in "${SOURCES[@]}"; do echo "$s $(source_version "$s")"; done
        $TRIPLET-g++-posix -dumpfullversion
        dpkg-query -W -f='${Version}\n' libz-mingw-w64-dev
    } | sha256sum | cut -c1-16
}
toolchain_key() {
    { sources_key; sha256sum <"$SCRIPT"; } | sha256sum | cut -c1-16
}

# Qt's CROSS_COMPILE puts a prefix before g++, ar, windres...; the posix-thread compilers carry
# a suffix, so a folder of plain-named links goes first on PATH.
make_compiler_links() {
    local dir=$1
    mkdir -p "$dir"
    for tool in gcc g++ c++ cpp; do
        ln -sf "/usr/bin/$TRIPLET-$tool-posix" "$dir/$TRIPLET-$tool"
    done
}

fetch_sources() {
    local dir=$1
    mkdir -p "$dir"
    for s in "${SOURCES[@]}"; do
        local v
        v=$(source_version "$s")
        [ -n "$v" ] || die "apt knows no source package $s"
        if ! ls "$dir/${s}_${v#*:}.dsc" >/dev/null 2>&1; then
            log "fetching source $s $v"
            (cd "$dir" && apt-get source -q --download-only "$s=$v" >/dev/null)
        fi
    done
}

unpack_source() { # <source package> <download dir> <target dir>
    local s=$1 from=$2 to=$3 v
    v=$(source_version "$s")
    if [ ! -e "$to/.unpacked" ]; then
        rm -rf "$to"
        dpkg-source --no-check -x "$from/${s}_${v#*:}.dsc" "$to" >/dev/null
        touch "$to/.unpacked"
    fi
}

build_sqlite() { # <work dir> <install prefix>
    local work=$1 prefix=$2
    [ -e "$prefix/lib/libsqlite3.a" ] && return 0
    log "SQLite: the amalgamation (native), then a static library for Windows"
    unpack_source sqlite3 "$CACHE_ROOT/win-src" "$work/sqlite-src"
    mkdir -p "$work/sqlite-native"
    if [ ! -e "$work/sqlite-native/sqlite3.c" ]; then
        (cd "$work/sqlite-native" && "$work/sqlite-src/configure" --disable-tcl >/dev/null &&
            nice -n 19 make sqlite3.c >/dev/null)
    fi
    mkdir -p "$work/sqlite-win" "$prefix/lib" "$prefix/include"
    # The options Qt's own copy is built with that the driver may use.
    nice -n 19 $TRIPLET-gcc-posix -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_ENABLE_COLUMN_METADATA \
        -DSQLITE_OMIT_LOAD_EXTENSION -DSQLITE_OMIT_COMPLETE \
        -c "$work/sqlite-native/sqlite3.c" -o "$work/sqlite-win/sqlite3.o"
    $TRIPLET-ar rcs "$work/sqlite-win/libsqlite3.a" "$work/sqlite-win/sqlite3.o"
    cp "$work/sqlite-native/sqlite3.h" "$prefix/include/"
    cp "$work/sqlite-win/libsqlite3.a" "$prefix/lib/"
}

# Only what the project uses: no OpenGL, D-Bus, ICU, SSL or Vulkan; the tablet header the windows
# platform plugin wants is missing from Debian's source, hence no tablet events.
qt_options() { # <install prefix>, one option a line
    printf '%s\n' -xplatform win32-g++ -device-option CROSS_COMPILE=$TRIPLET- \
        -prefix "$1" -opensource -confirm-license -release -shared \
        -nomake examples -nomake tests -no-compile-examples \
        -no-opengl -no-dbus -no-icu -no-ssl -no-vulkan -no-direct2d -no-pkg-config \
        -no-feature-tabletevent \
        -qt-zlib -qt-pcre -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz \
        -sql-sqlite -system-sqlite -no-sql-odbc -no-sql-psql -no-sql-mysql -no-sql-ibase \
        -no-sql-oci -no-sql-db2 -no-sql-tds \
        SQLITE_INCDIR="$1/include" SQLITE_LIBDIR="$1/lib" SQLITE_LIBS=-lsqlite3
}

build_qt() { # <work dir> <install prefix> <compiler links>
    local work=$1 prefix=$2 links=$3
    [ "$(cat "$work/.qt-installed" 2>/dev/null)" = "$(qt_options "$prefix" | sha256sum)" ] && return 0
    unpack_source qtbase-opensource-src "$CACHE_ROOT/win-src" "$work/qtbase-src"
    mkdir -p "$work/qt-build"
    if [ "$(cat "$work/qt-build/.configured" 2>/dev/null)" != "$(qt_options "$prefix" | sha256sum)" ]; then
        log "Qt: configure"
        local options
        mapfile -t options < <(qt_options "$prefix")
        (cd "$work/qt-build" && PATH="$links:$PATH" "$work/qtbase-src/configure" "${options[@]}" \
            >"$work/qt-configure.log" 2>&1) || {
            tail -n 30 "$work/qt-configure.log" >&2
            die "Qt configure failed (log: $work/qt-configure.log)"
        }
        grep -q 'SQLite.*yes' "$work/qt-build/config.summary" ||
            die "Qt configure did not take the SQLite driver (see $work/qt-build/config.summary)"
        qt_options "$prefix" | sha256sum >"$work/qt-build/.configured"
    fi
    log "Qt: make -j$JOBS (long; a half-finished build is picked up again)"
    (cd "$work/qt-build" && PATH="$links:$PATH" nice -n 19 make -j"$JOBS" >>"$work/qt-make.log" 2>&1) || {
        tail -n 30 "$work/qt-make.log" >&2
        die "Qt build failed (log: $work/qt-make.log)"
    }
    log "Qt: install"
    (cd "$work/qt-build" && PATH="$links:$PATH" make install >"$work/qt-install.log" 2>&1) ||
        die "Qt install failed (log: $work/qt-install.log)"
    qt_options "$prefix" | sha256sum >"$work/.qt-installed"
    rm -f "$work/.quazip-installed"
}

build_quazip() { # <work dir> <install prefix>
    local work=$1 prefix=$2
    [ -e "$work/.quazip-installed" ] && return 0
    log "QuaZip"
    unpack_source libquazip1-qt5 "$CACHE_ROOT/win-src" "$work/quazip-src"
    cmake -S "$work/quazip-src" -B "$work/quazip-build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$SOURCE_DIR/cmake/mingw-w64.cmake" \
        -DPANELHOLD_WIN_TOOLCHAIN="$prefix" -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DQUAZIP_QT_MAJOR_VERSION=5 -DQUAZIP_BZIP2=OFF -DQUAZIP_FETCH_LIBS=OFF \
        -DQUAZIP_ENABLE_TESTS=OFF -DBUILD_SHARED_LIBS=ON >"$work/quazip.log" 2>&1 &&
        nice -n 19 cmake --build "$work/quazip-build" -j"$JOBS" >>"$work/quazip.log" 2>&1 &&
        cmake --install "$work/quazip-build" >>"$work/quazip.log" 2>&1 || {
        tail -n 30 "$work/quazip.log" >&2
        die "QuaZip build failed (log: $work/quazip.log)"
    }
    touch "$work/.quazip-installed"
}

stage_toolchain() {
    local started=$SECONDS
    ensure_packages
    fetch_sources "$CACHE_ROOT/win-src"
    local key
    key=$(toolchain_key)
    TOOLCHAIN="$CACHE_ROOT/win-toolchain-$key"
    if [ -e "$TOOLCHAIN/.complete" ]; then
        log "toolchain ready: $TOOLCHAIN"
        return 0
    fi
    if [ $ONLY_CACHED = 1 ]; then
        log "no toolchain in the cache: $TOOLCHAIN"
        exit 3
    fi
    # Everything is built and installed into the work folder and only copied into the cache entry
    # when complete; Qt's and QuaZip's CMake files find their folder relative to themselves.
    local work="$CACHE_ROOT/win-work-$(sources_key)"
    local partial="$work/stage"
    mkdir -p "$work" "$partial"
    make_compiler_links "$work/links"
    build_sqlite "$work" "$partial"
    build_qt "$work" "$partial" "$work/links"
    build_quazip "$work" "$partial"
    # The MinGW runtime (posix threads) and zlib beside Qt's DLLs, so deploying takes one folder.
    local gcc_dir
    gcc_dir=$(dirname "$($TRIPLET-g++-posix -print-libgcc-file-name)")
    cp "$gcc_dir/libstdc++-6.dll" "$gcc_dir/libgcc_s_seh-1.dll" \
        "/usr/$TRIPLET/lib/libwinpthread-1.dll" "/usr/$TRIPLET/lib/zlib1.dll" "$partial/bin/"
    printf '[Paths]\nPrefix=..\n' >"$partial/bin/qt.conf"
    rm -rf "$TOOLCHAIN" "$TOOLCHAIN.partial"
    cp -a "$partial" "$TOOLCHAIN.partial"
    touch "$TOOLCHAIN.partial/.complete"
    mv "$TOOLCHAIN.partial" "$TOOLCHAIN"
    log "toolchain built in $(((SECONDS - started) / 60)) min: $TOOLCHAIN (work files: $work)"
}

stage_toolchain
echo "$TOOLCHAIN"
