#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need; skips those present.
set -euo pipefail

packages=(build-essential cmake qtbase5-dev libqt5sql5-sqlite libquazip1-qt5-dev
          xvfb xauth imagemagick clang-14 libclang-rt-14-dev g++-mingw-w64-x86-64
          binutils-mingw-w64)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
