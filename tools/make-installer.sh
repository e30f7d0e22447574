#!/bin/sh
# Builds the setup program, build/Nulvane-<version>-setup.exe: Nulvane.exe
# for Windows and NSIS's installer around it (installer/Nulvane.nsi).
# Installs what it needs on Debian 12 first (run as root, or with sudo
# available).
#
#   tools/make-installer.sh
set -eu

. "$(dirname "$0")/wine-session.sh"
root=$nulvane_root
build="$root/build"

nulvane_install_missing g++-mingw-w64-x86-64-posix mingw-w64-tools cmake ninja-build googletest nsis

echo "== building the setup program in $build"
cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target nulvane_setup
ls "$build"/Nulvane-*-setup.exe
