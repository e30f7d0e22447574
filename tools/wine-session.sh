# Shell functions shared by tools/run-tests.sh, tools/run-nulvane.sh and
# tools/random-kill.sh: installing what is missing, a private X display and
# a prepared Wine prefix. Sourced, never run; POSIX sh.

nulvane_root=$(cd "$(dirname "$0")/.." && pwd)

# nulvane_install_missing <package>...: installs, on Debian 12, the packages
# that are not installed yet (as root, or through sudo).
nulvane_install_missing() {
    _missing=""
    for _p in "$@"; do
        dpkg -s "$_p" >/dev/null 2>&1 || _missing="$_missing $_p"
    done
    [ -z "$_missing" ] && return 0
    echo "== installing:$_missing"
    _sudo=""
    [ "$(id -u)" -ne 0 ] && _sudo="sudo"
    $_sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $_sudo apt-get install -y -qq --no-install-recommends $_missing >/dev/null
}

# nulvane_wait_for_file <path> <what>: waits up to 10 s for a program that
# reports itself ready by writing the file; says so when <what> did not.
nulvane_wait_for_file() {
    for _ in $(seq 1 100); do
        [ -s "$1" ] && return 0
        sleep 0.1
    done
    echo "$2 did not start" >&2
    return 1
}

# nulvane_start_xvfb <folder>: starts a private Xvfb on a display it picks
# itself (never a fixed one, which another job may hold), exports DISPLAY and
# sets nulvane_xvfb_pid. It must run before the prefix's first Wine process:
# a wineserver started without a display breaks every later window.
nulvane_start_xvfb() {
    exec 3>"$1/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    nulvane_xvfb_pid=$!
    exec 3>&-
    nulvane_wait_for_file "$1/display" "Xvfb" || return 1
    DISPLAY=":$(cat "$1/display")"
    export DISPLAY
}

# nulvane_display_usable: whether DISPLAY names an X server that answers.
nulvane_display_usable() {
    [ -n "${DISPLAY:-}" ] && timeout 5 xdpyinfo >/dev/null 2>&1
}

# nulvane_prepare_prefix [managed]: creates the Wine prefix named by
# WINEPREFIX (with DISPLAY already set) the way the tests and the program
# need it. "managed" keeps windows under the display's window manager.
nulvane_prepare_prefix() {
    export WINEDEBUG="${WINEDEBUG:--all}"
    "$nulvane_root/cmake/wine-run.sh" cmd /c exit 0 </dev/null >/dev/null 2>&1
    # Wine registers the TrueType fonts of its own font folder in no prefix:
    # without Marlett, the caption buttons it draws show the letters 0, 2, r.
    if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
        cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    fi
    # The MIME database that the file deleter's media check reads.
    wine regsvr32 mshtml.dll </dev/null >/dev/null 2>&1
    # Xvfb runs no window manager. Wine would still hand windows to one and
    # wait up to 2 s, each time a window is hidden or destroyed, for it to
    # confirm.
    if [ "${1:-}" != managed ]; then
        wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f </dev/null >/dev/null 2>&1
    fi
    # The session that created the prefix keeps the service database locked,
    # so RpcSs cannot start in it and every COM call that needs it waits 10 s
    # for it ("Failed to start RpcSs service"). The next Wine process starts
    # a fresh session.
    wineserver -k
    wineserver -w
}
