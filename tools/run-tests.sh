#!/bin/sh
# Builds Nulvane and every test for Windows, then runs the tests under Wine in
# a fresh, throwaway Wine prefix with a private Xvfb display. Installs what it
# needs on Debian 12 first (run as root, or with sudo available).
#
#   tools/run-tests.sh [extra ctest arguments]
set -eu

. "$(dirname "$0")/wine-session.sh"
root=$nulvane_root
build="$root/build-tests"

nulvane_install_missing g++-mingw-w64-x86-64-posix mingw-w64-tools cmake ninja-build googletest \
    wine wine64 fonts-wine xvfb xauth imagemagick libmsiecf-utils python3 nsis

echo "== building in $build"
cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)"

work=$(mktemp -d "${TMPDIR:-/tmp}/nulvane-tests.XXXXXX")
nulvane_xvfb_pid=""
cleanup() {
    WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
    [ -n "$nulvane_xvfb_pid" ] && kill "$nulvane_xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

nulvane_start_xvfb "$work"
export WINEPREFIX="$work/prefix"
export WINEDEBUG=-all
echo "== preparing Wine prefix $WINEPREFIX on display $DISPLAY"
nulvane_prepare_prefix

echo "== running tests"
cd "$build"
ctest --output-on-failure --no-tests=error "$@"
