#!/bin/sh
# Builds Nulvane and starts it under Wine. Installs what it needs on Debian 12
# first (run as root, or with sudo available).
#
#   tools/run-nulvane.sh [URL]
#
# With a usable display (DISPLAY set and answering) it starts the browsing
# copy on the URL (the home page without one) in the Wine prefix
# build/wine-browse (or $WINEPREFIX) and returns when Nulvane has ended.
#
# Without one (a server, CI, a fresh container), where a window nobody can
# see would wait forever, it runs a short demonstration session instead, on
# a private Xvfb in a throwaway Wine prefix: a profile with the user's own
# cache entries, cookies, history, Flash and Java files; a trace audit;
# Nulvane started; traces added by the session; a screenshot; the window
# closed; the audit again, and its summary. Exit status 0 when the session
# left no trace and lost nothing of the user's.
set -eu

. "$(dirname "$0")/wine-session.sh"
root=$nulvane_root
build="$root/build"
url="${1:-}"

nulvane_install_missing g++-mingw-w64-x86-64-posix mingw-w64-tools cmake ninja-build googletest \
    wine wine64 fonts-wine xvfb xauth x11-utils imagemagick

echo "== building Nulvane in $build"
cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw64.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target Nulvane nulvane_trace_audit nulvane_session_driver
exe="$build/bin/Nulvane.exe"
audit="$build/bin/nulvane_trace_audit.exe"
driver="$build/bin/nulvane_session_driver.exe"
export WINEDEBUG=-all
# Every Wine call goes through the wrapper: it keeps a detached wineserver,
# so that no Wine background process holds this script's output open.
w="$root/cmake/wine-run.sh"

if nulvane_display_usable; then
    export WINEPREFIX="${WINEPREFIX:-$build/wine-browse}"
    if [ ! -d "$WINEPREFIX/drive_c" ]; then
        echo "== preparing Wine prefix $WINEPREFIX"
        mkdir -p "$WINEPREFIX"
        nulvane_prepare_prefix managed
    fi
    echo "== starting Nulvane ${url:-on its home page} (display $DISPLAY, prefix $WINEPREFIX)"
    # Nulvane writes its configuration file into the current folder.
    mkdir -p "$build/run"
    cd "$build/run"
    status=0
    "$root/cmake/wine-run.sh" "$exe" ${url:+"$url"} </dev/null || status=$?
    echo "== Nulvane ended with exit code $status"
    exit "$status"
fi

# The demonstration session.
echo "== no usable display: running a demonstration session on a private Xvfb"
work=$(mktemp -d "$build/demo.XXXXXX")
shot="$build/nulvane-demo.png"
shot_cleanup="$build/nulvane-demo-cleanup.png"
rm -f "$shot" "$shot_cleanup"
nulvane_xvfb_pid=""
nulvane_pid=""
finish() {
    [ -n "$nulvane_pid" ] && kill -9 "$nulvane_pid" 2>/dev/null || true
    WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
    [ -n "$nulvane_xvfb_pid" ] && kill "$nulvane_xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap finish EXIT INT TERM

nulvane_start_xvfb "$work"
export WINEPREFIX="$work/prefix"
echo "== preparing a throwaway Wine prefix on display $DISPLAY"
nulvane_prepare_prefix
cd "$work"

echo "== the user's own browsing before the session"
"$w" "$driver" seed user </dev/null
"$w" "$audit" >"$work/before.txt" </dev/null

echo "== starting Nulvane ${url:-on its home page}"
"$w" "$exe" ${url:+"$url"} </dev/null >/dev/null 2>&1 &
nulvane_pid=$!
if ! "$w" "$driver" wait-window 60000 </dev/null >/dev/null; then
    echo "no Nulvane window appeared within 60 s" >&2
    exit 1
fi

echo "== browsing: the session adds cache entries, cookies, history, Flash and Java files"
"$w" "$driver" browse user 1 </dev/null
"$w" "$audit" >"$work/during.txt" </dev/null
# The window has settled by now; the audit took a second or two.
import -window root "$shot"

echo "== closing the window (WM_CLOSE): the last window wipes the session"
"$w" "$driver" close </dev/null
t_close=$(date +%s%3N)
sleep 1.5
import -window root "$shot_cleanup" 2>/dev/null || true
status=""
for _ in $(seq 1 900); do
    if ! kill -0 "$nulvane_pid" 2>/dev/null; then
        t_end=$(date +%s%3N)
        status=0
        wait "$nulvane_pid" || status=$?
        break
    fi
    sleep 0.1
done
nulvane_pid_left=$nulvane_pid
nulvane_pid=""
if [ -z "$status" ]; then
    echo "Nulvane did not end within 90 s of its window closing" >&2
    kill -9 "$nulvane_pid_left" 2>/dev/null || true
    exit 1
fi
took=$(( t_end - t_close ))
echo "== Nulvane ended with exit code $status, $(( took / 1000 )).$(( took % 1000 / 100 )) s after its window was asked to close"

"$w" "$audit" >"$work/after.txt" </dev/null
recovery="$(ls "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Nulvane/recovery.lck 2>/dev/null || true)"

echo "== trace audit, before and after the session"
result=0
"$w" "$driver" compare "$work/before.txt" "$work/during.txt" "$work/after.txt" --list </dev/null || result=1
if [ -n "$recovery" ]; then
    echo "  the recovery file is still there: the clean-up did not finish"
    result=1
fi
[ "$status" -eq 0 ] || result=1
echo "  screenshot with the window open:    $shot"
[ -f "$shot_cleanup" ] && echo "  screenshot during the clean-up:     $shot_cleanup"
exit "$result"
