#!/bin/sh
# Builds Nulvane and every test for Windows, then runs the tests under Wine in
# a fresh, throwaway Wine prefix with a private Xvfb display. Installs what it
# needs on Debian 12 first (run as root, or with sudo available).
#
#   tools/run-tests.sh [extra ctest arguments]
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-tests"

packages="g++-mingw-w64-x86-64-posix mingw-w64-tools cmake ninja-build googletest
wine wine64 fonts-wine xvfb xauth imagemagick libmsiecf-utils"

missing=""
for p in $packages; do
    dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "== installing:$missing"
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi

echo "== building in $build"
cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)"

# A private display for the GUI tests. It must exist before the first Wine
# process: a wineserver started without a display breaks every later window.
work=$(mktemp -d /tmp/nulvane-tests.XXXXXX)
xvfb_pid=""
cleanup() {
    WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 1 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
DISPLAY=":$(cat "$work/display")"
export DISPLAY

export WINEPREFIX="$work/prefix"
export WINEDEBUG=-all
echo "== preparing Wine prefix $WINEPREFIX on display $DISPLAY"
"$root/cmake/wine-run.sh" cmd /c exit 0 </dev/null >/dev/null 2>&1
# The MIME database that the file deleter's media check reads.
wine regsvr32 mshtml.dll </dev/null >/dev/null 2>&1
# Xvfb runs no window manager. Wine would still hand windows to one and wait
# up to 2 s, each time a window is hidden or destroyed, for it to confirm.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1
# The session that created the prefix keeps the service database locked, so
# RpcSs cannot start in it and every COM call that needs it waits 10 s for it
# ("Failed to start RpcSs service"): the shell tests took 295 s instead of
# 15 s. The first test program starts a fresh session.
wineserver -k
wineserver -w

echo "== running tests"
cd "$build"
ctest --output-on-failure --no-tests=error "$@"
