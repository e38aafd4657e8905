# Cross-building for 64-bit Windows with Debian's MinGW-w64 (posix threads) against the toolchain
# tools/build-windows-toolchain.sh makes (Qt, QuaZip, SQLite for Windows).
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DPANELHOLD_WIN_TOOLCHAIN=<that folder> ...
#
# Programs built here run under Wine (tools/wine-run.sh) at build time and under CTest.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PANELHOLD_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PANELHOLD_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PANELHOLD_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${PANELHOLD_MINGW_TRIPLET}-windres)

# try_compile projects read this file again; they need the folder too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PANELHOLD_WIN_TOOLCHAIN)

# Libraries, headers and packages come only from MinGW's own folder and the toolchain, never
# from the build machine; programs (moc, rcc, uic) are the build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${PANELHOLD_MINGW_TRIPLET} ${PANELHOLD_WIN_TOOLCHAIN})
if(PANELHOLD_WIN_TOOLCHAIN)
    list(APPEND CMAKE_PREFIX_PATH ${PANELHOLD_WIN_TOOLCHAIN})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows programs run at build time and by CTest go through Wine, in a prefix of the build's own.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR AND CMAKE_BINARY_DIR)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run.sh
                                      ${CMAKE_BINARY_DIR}/wineprefix)
endif()
