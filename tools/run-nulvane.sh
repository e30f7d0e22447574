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
# Nulvane started on a small site on 127.0.0.1 (tools/loopback-site.py) and
# handed two more of its addresses, which its rendering control downloads
# into the cache and whose cookies it stores; the traces the control cannot
# make under Wine (history, Flash, Java) added by the session driver; a
# screenshot; the window closed; the audit again, and its summary. Exit
# status 0 when the session left no trace and lost nothing of the user's.
# The demonstration browses its own site only: a URL given is not opened.
set -eu

. "$(dirname "$0")/wine-session.sh"
root=$nulvane_root
build="$root/build"
url="${1:-}"

nulvane_install_missing g++-mingw-w64-x86-64-posix mingw-w64-tools cmake ninja-build googletest \
    wine wine64 fonts-wine xvfb xauth x11-utils imagemagick python3

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
if [ -n "$url" ]; then
    echo "   (it browses its own site on 127.0.0.1 only: $url is not opened)"
fi
work=$(mktemp -d "$build/demo.XXXXXX")
shot="$build/nulvane-demo.png"
shot_cleanup="$build/nulvane-demo-cleanup.png"
rm -f "$shot" "$shot_cleanup"
nulvane_xvfb_pid=""
nulvane_pid=""
site_pid=""
finish() {
    [ -n "$nulvane_pid" ] && kill -9 "$nulvane_pid" 2>/dev/null || true
    WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
    [ -n "$nulvane_xvfb_pid" ] && kill "$nulvane_xvfb_pid" 2>/dev/null || true
    [ -n "$site_pid" ] && kill "$site_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap finish EXIT INT TERM

nulvane_start_xvfb "$work"
export WINEPREFIX="$work/prefix"
echo "== preparing a throwaway Wine prefix on display $DISPLAY"
nulvane_prepare_prefix
cd "$work"

# The site stops by itself after 5 minutes, should this script be killed
# before its exit trap runs.
python3 "$root/tools/loopback-site.py" "$work/site.port" 300 2>"$work/site.log" </dev/null >/dev/null &
site_pid=$!
nulvane_wait_for_file "$work/site.port" "the loopback site" || exit 1
site="http://127.0.0.1:$(cat "$work/site.port")"
echo "== a small web site at $site/ (tools/loopback-site.py): three pages, an image, two cookies"

# The value of the cookie <name> on 127.0.0.1 in an audit listing.
site_cookie() {
    awk -F '\t' -v n="$2" '$1 == "cookiefile" && $3 == n && $5 == "127.0.0.1/" { print $4 }' "$1"
}
# The cache file of <url> in an audit listing, from the index.dat record.
cache_file() {
    awk -F '\t' -v u="$2" '$1 == "indexdat" && $2 ~ /^cache:/ && $4 == u { gsub(/\\\\/, "\\", $5); print $5 }' "$1"
}

echo "== the user's own browsing before the session"
"$w" "$driver" seed user </dev/null
"$w" "$audit" >"$work/before.txt" </dev/null
echo "   cache entries, cookies (visit=$(site_cookie "$work/before.txt" visit) among them, for 127.0.0.1), history, Flash and Java files"

# fetched <url>: waits (up to 60 s) until the control has stored <url> in
# its cache: the record in Content.IE5's index.dat, as the audit reads it.
fetch_failed=""
fetched() {
    for _ in $(seq 1 60); do
        "$w" "$audit" indexdat >"$work/poll.txt" </dev/null
        file=$(cache_file "$work/poll.txt" "$1")
        if [ -n "$file" ]; then
            # printf: the path's backslashes are no escapes.
            printf '   the control fetched %s into Content.IE5\\%s\n' "$1" "$file"
            return 0
        fi
        sleep 1
    done
    echo "   the control did not fetch $1 within 60 s" >&2
    fetch_failed=1
}

echo "== browsing with the real program: Nulvane started on $site/index.html"
echo "   (Wine has no HTML engine: the window stays white, but the rendering control"
echo "   downloads each page through urlmon and WinINet, into the cache and the cookie store)"
"$w" "$exe" "$site/index.html" </dev/null >/dev/null 2>&1 &
nulvane_pid=$!
if ! "$w" "$driver" wait-window 60000 </dev/null >/dev/null; then
    echo "no Nulvane window appeared within 60 s" >&2
    exit 1
fi
fetched "$site/index.html"
# Without an HTML engine the page's own image is never asked for: the image
# is navigated to directly.
for page in news.html logo.png; do
    echo "   a second Nulvane.exe started with $site/$page hands it to the running window"
    handoff=0
    "$w" "$exe" "$site/$page" </dev/null >/dev/null 2>&1 || handoff=$?
    if [ "$handoff" -ne 0 ]; then
        echo "   the second start ended with exit code $handoff" >&2
        fetch_failed=1
    fi
    fetched "$site/$page"
done
# Nothing else talks to the site: every request in its log is the control's.
echo "   requests the site served: $(sed -n 's/.*"GET \([^ ]*\) HTTP.*/\1/p' "$work/site.log" | tr '\n' ' ')"

echo "== the session driver adds what the control cannot make under Wine:"
echo "   history records of the three addresses (Wine's control records no visits),"
echo "   a changed and a new Flash file and a Java file (there are no plug-ins)"
"$w" "$driver" browse-extras user 1 "$site/index.html" "$site/news.html" "$site/logo.png" </dev/null
"$w" "$audit" >"$work/during.txt" </dev/null
echo "   the site's cookies in the store, set by the control: visit=$(site_cookie "$work/during.txt" visit)" \
    "(over the user's), seen=$(site_cookie "$work/during.txt" seen)"
# The window has settled by now; the audit took a second or two.
import -window root "$shot"

echo "== closing the window (WM_CLOSE): the last window wipes the session"
"$w" "$driver" close </dev/null
t_close=$(date +%s%3N)
# The window first waits up to 2 s for its tabs to unload (Wine's control
# never reports the blank page), then the clean-up window comes.
sleep 4
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
site_entries() {
    awk -F '\t' -v s="$site/" '$1 == "indexdat" && $2 ~ /^cache:/ && index($4, s) == 1' "$1" | wc -l
}
echo "  the site's cache entries:           $(site_entries "$work/during.txt") during the session, $(site_entries "$work/after.txt") after"
echo "  the user's cookie on 127.0.0.1:     visit=$(site_cookie "$work/before.txt" visit) before," \
    "visit=$(site_cookie "$work/during.txt" visit) during, visit=$(site_cookie "$work/after.txt" visit) after"
if [ -n "$recovery" ]; then
    echo "  the recovery file is still there: the clean-up did not finish"
    result=1
fi
if [ -n "$fetch_failed" ]; then
    echo "  the control did not fetch every address of the site: the session was not the real one"
    result=1
fi
[ "$status" -eq 0 ] || result=1
echo "  screenshot with the window open:    $shot"
[ -f "$shot_cleanup" ] && echo "  screenshot during the clean-up:     $shot_cleanup"
exit "$result"
