#!/bin/sh
# Runs one Windows program under Wine without letting Wine's background
# processes hold our stdout/stderr open. wineserver, services and explorer
# inherit the first Wine process's descriptors; CTest would then wait on the
# pipe for seconds per test, or forever. So a persistent wineserver is started
# here, detached from every inherited descriptor, before the program runs.
#
# WINEPREFIX defaults to a prefix inside the build tree; tools/run-tests.sh
# points it at a fresh throwaway prefix instead.
set -e
here=$(cd "$(dirname "$0")" && pwd)
: "${WINEPREFIX:=$here/../build/wine-prefix}"
: "${WINEDEBUG:=-all}"
export WINEPREFIX WINEDEBUG
mkdir -p "$WINEPREFIX"

(
    flock 9
    # wineserver exits with 2 when one already runs for this prefix, 0 when
    # it daemonised a new one.
    if wineserver -p300 </dev/null >/dev/null 2>&1 9>&-; then
        WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i </dev/null >/dev/null 2>&1 9>&- || true
        # Wine links the user's Desktop, Documents... to the Linux home
        # folder. Tests write to the desktop: keep those folders inside the
        # prefix, as plain folders.
        for link in "$WINEPREFIX"/drive_c/users/*/*; do
            if [ -L "$link" ]; then
                rm -f "$link" && mkdir -p "$link"
            fi
        done
    fi
) 9>"$WINEPREFIX/.nulvane-run.lock"

exec wine "$@"
