#!/bin/bash
# Kills Nulvane at random moments and checks that the next start wipes the
# session from its recovery file: no trace of the session left, nothing of
# the user's lost. Run by hand (minutes, not part of the test command):
#
#   tools/random-kill.sh [runs (50)] [random seed]
#
# One Wine prefix (inside build/) holds a profile with the user's own cache
# entries, cookies, history, Flash and Java files for the whole campaign.
# Each run: audit the stores; start Nulvane; kill it at a random moment of
# one of three phases
#   start-up   0 .. (time the window takes to appear) after the start, before
#              any browsing: the snapshot, the recovery file and the start-up
#              cookie removal may be under way
#   browsing   0 .. 2 s after the session added its traces
#   clean-up   0 .. (time a clean-up takes) after WM_CLOSE to the window
# with one of three kills (wineserver -k, taskkill /F, SIGKILL to the Wine
# process); start Nulvane again (" --silentcleanup", or a normal start whose
# window is then closed), audit again and compare.
# Expects Nulvane built (tools/run-nulvane.sh or tools/run-tests.sh builds it).
set -u

. "$(dirname "$0")/wine-session.sh"
root=$nulvane_root
build="$root/build"
runs="${1:-50}"
seed="${2:-$(( $(date +%s) % 32768 ))}"
RANDOM=$seed

exe="$build/bin/Nulvane.exe"
audit="$build/bin/nulvane_trace_audit.exe"
driver="$build/bin/nulvane_session_driver.exe"
for f in "$exe" "$audit" "$driver"; do
    [ -f "$f" ] || { echo "missing $f: build first (cmake --build build)" >&2; exit 2; }
done
w="$root/cmake/wine-run.sh"
export WINEDEBUG=-all

work=$(mktemp -d "$build/random-kill.XXXXXX")
nulvane_xvfb_pid=""
finish() {
    WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
    [ -n "$nulvane_xvfb_pid" ] && kill "$nulvane_xvfb_pid" 2>/dev/null || true
    rm -rf "$work/prefix"
}
trap finish EXIT
trap 'exit 130' INT TERM

now_ms() { date +%s%3N; }
sleep_ms() { sleep "$(printf '%d.%03d' $(( $1 / 1000 )) $(( $1 % 1000 )))"; }

# Waits up to <s> seconds for the process to end; sets exit_code to its exit
# code, or to "none" when it is still running.
wait_exit() {
    local pid=$1 limit=$(( $2 * 10 )) i=0
    while kill -0 "$pid" 2>/dev/null; do
        i=$(( i + 1 ))
        if [ $i -ge $limit ]; then
            exit_code=none
            return
        fi
        sleep 0.1
    done
    exit_code=0
    { wait "$pid"; } 2>/dev/null || exit_code=$?
}

recovery_file() {
    ls "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Nulvane/recovery.lck 2>/dev/null
}

nulvane_start_xvfb "$work" || exit 2
export WINEPREFIX="$work/prefix"
echo "== preparing the Wine prefix $WINEPREFIX on display $DISPLAY (seed $seed)"
nulvane_prepare_prefix
cd "$work"
"$w" "$driver" seed user </dev/null || { echo "seeding the profile failed" >&2; exit 2; }
# A user who has used Nulvane before and declined to make it the default
# browser this month: no start of the campaign stops on that question.
"$w" reg add 'HKCU\SOFTWARE\Nulvane' /v FirstRun /t REG_DWORD /d "$(date +%s)" /f </dev/null >/dev/null 2>&1
"$w" reg add 'HKCU\SOFTWARE\Nulvane' /v RI /t REG_DWORD /d 100 /f </dev/null >/dev/null 2>&1
"$w" reg add 'HKCU\SOFTWARE\Nulvane' /v LastDefaultCheck /t REG_DWORD /d "$(date +%s)" /f </dev/null >/dev/null 2>&1
"$w" reg add 'HKCU\SOFTWARE\Nulvane' /v CreatedShortcut /t REG_DWORD /d 1 /f </dev/null >/dev/null 2>&1
"$w" "$audit" >"$work/baseline.txt" </dev/null

# The phases' lengths, measured as the campaign goes: the longest a window
# took to appear, and the longest a clean-up took from WM_CLOSE to the end of
# the process (measured on the normal restarts, which are never killed).
startup_ms=4000
cleanup_ms=8000
cleanup_measured=no
total_left=0 total_lost=0 failed_runs=0 anomalies=0 ended_count=0 before_record=0
declare -A phase_count method_count
t_begin=$(date +%s)

for run in $(seq 1 "$runs"); do
    "$w" "$audit" >"$work/before.txt" </dev/null
    case $(( RANDOM % 4 )) in
        0) phase=start-up ;;
        1) phase=browsing ;;
        *) phase=clean-up ;;
    esac
    case $(( RANDOM % 3 )) in
        0) method=wineserver ;;
        1) method=taskkill ;;
        *) method=sigkill ;;
    esac
    if [ $(( RANDOM % 2 )) -eq 0 ]; then restart=silentcleanup; else restart=normal; fi
    note=""

    t0=$(now_ms)
    # Started from a subshell that outlives it, with the subshell's report of
    # a killed command silenced; the subshell's only child is the Wine
    # process.
    ( "$w" "$exe" </dev/null >/dev/null 2>&1; exit $? ) 2>/dev/null &
    pid=$!
    if [ "$phase" = start-up ]; then
        # Half of these land in the first quarter, where the snapshot is
        # taken and the recovery file written (about the first second).
        delay=$(( RANDOM * 32768 + RANDOM ))
        if [ $(( RANDOM % 2 )) -eq 0 ]; then
            delay=$(( delay % startup_ms ))
        else
            delay=$(( delay % (startup_ms / 4) ))
        fi
        sleep_ms "$delay"
    else
        if ! "$w" "$driver" wait-window 60000 </dev/null >/dev/null; then
            note="$note no-window"
        fi
        shown=$(( $(now_ms) - t0 ))
        [ $shown -gt $startup_ms ] && startup_ms=$shown
        "$w" "$driver" browse user "$run" </dev/null >/dev/null || note="$note browse-failed"
        if [ "$phase" = browsing ]; then
            delay=$(( (RANDOM * 32768 + RANDOM) % 2000 ))
            sleep_ms "$delay"
        else
            "$w" "$driver" close </dev/null || note="$note close-failed"
            t_close=$(now_ms)
            delay=$(( (RANDOM * 32768 + RANDOM) % cleanup_ms ))
            sleep_ms "$delay"
        fi
    fi

    if kill -0 "$pid" 2>/dev/null; then
        case $method in
            wineserver) wineserver -k ;;
            taskkill) "$w" taskkill /F /IM Nulvane.exe </dev/null >/dev/null 2>&1 ;;
            sigkill) kill -9 $(pgrep -P "$pid") 2>/dev/null ;;
        esac
        killed=yes
    else
        killed=no
    fi
    wait_exit "$pid" 30
    code=$exit_code
    if [ "$killed" = no ]; then
        ended_count=$(( ended_count + 1 ))
        note="$note ended-before-kill(exit=$code)"
    elif [ "$code" = none ]; then
        note="$note survived-kill"
        kill -9 $(pgrep -P "$pid") 2>/dev/null
        wineserver -k
    fi
    # No Nulvane process may outlive the kill, whatever the Wine process did.
    if "$w" "$driver" kill </dev/null; then
        note="$note a-Nulvane-process-survived"
    fi
    had_recovery=no
    [ -n "$(recovery_file)" ] && had_recovery=yes
    [ "$killed" = yes ] && [ "$phase" = start-up ] && [ $had_recovery = no ] && before_record=$(( before_record + 1 ))

    # The next start: it must find the recovery file and wipe.
    if [ "$restart" = silentcleanup ]; then
        "$w" "$exe" --silentcleanup </dev/null >/dev/null 2>&1 &
        pid2=$!
        wait_exit "$pid2" 120
        code2=$exit_code
    else
        "$w" "$exe" </dev/null >/dev/null 2>&1 &
        pid2=$!
        t_close=""
        if "$w" "$driver" wait-window 120000 </dev/null >/dev/null; then
            "$w" "$driver" close </dev/null >/dev/null
            t_close=$(now_ms)
        else
            note="$note restart-showed-no-window"
            import -window root "$work/run$run-restart.png" 2>/dev/null
        fi
        wait_exit "$pid2" 120
        code2=$exit_code
        if [ -n "$t_close" ] && [ "$code2" = 0 ]; then
            took=$(( $(now_ms) - t_close ))
            if [ $cleanup_measured = no ] || [ $took -gt $cleanup_ms ]; then
                cleanup_ms=$took
                cleanup_measured=yes
            fi
        fi
    fi
    if [ "$code2" = none ]; then
        note="$note restart-did-not-end"
        import -window root "$work/run$run-hang.png" 2>/dev/null
        kill -9 "$pid2" 2>/dev/null
        wineserver -k
    elif [ "$code2" != 0 ]; then
        note="$note restart-exit=$code2"
    fi
    [ -n "$(recovery_file)" ] && note="$note recovery-file-remains"

    "$w" "$audit" >"$work/after.txt" </dev/null
    summary=$("$w" "$driver" compare "$work/before.txt" - "$work/after.txt" --list </dev/null)
    lost=$(printf '%s\n' "$summary" | awk -F: '/pre-session traces lost/ {gsub(/ /, "", $2); print $2}')
    left=$(printf '%s\n' "$summary" | awk -F: '/traces the session left/ {gsub(/ /, "", $2); print $2}')
    total_lost=$(( total_lost + ${lost:-0} ))
    total_left=$(( total_left + ${left:-0} ))
    phase_count[$phase]=$(( ${phase_count[$phase]:-0} + 1 ))
    method_count[$method]=$(( ${method_count[$method]:-0} + 1 ))
    printf 'run %2d: %-9s +%5d ms  %-10s killed=%-3s recovery-file=%-3s restart=%-13s left=%s lost=%s%s\n' \
        "$run" "$phase" "$delay" "$method" "$killed" "$had_recovery" "$restart" "${left:-?}" "${lost:-?}" "$note"
    if [ "${left:-1}" != 0 ] || [ "${lost:-1}" != 0 ]; then
        failed_runs=$(( failed_runs + 1 ))
        printf '%s\n' "$summary" | grep -E '^  (left|lost):' | sed 's/^/        /'
        cp "$work/before.txt" "$work/run$run-before.txt"
        cp "$work/after.txt" "$work/run$run-after.txt"
    fi
    case "$note" in *restart*|*survived*|*no-window*|*failed*|*remains*) anomalies=$(( anomalies + 1 )) ;; esac
done

"$w" "$audit" >"$work/final.txt" </dev/null
campaign=$("$w" "$driver" compare "$work/baseline.txt" - "$work/final.txt" --list </dev/null)
t_end=$(date +%s)
echo
echo "== random kills: $runs runs in $(( t_end - t_begin )) s (seed $seed)"
echo "  longest start-up to window: $startup_ms ms; longest clean-up after WM_CLOSE: $cleanup_ms ms"
echo "  kills by phase:   start-up ${phase_count[start-up]:-0}, browsing ${phase_count[browsing]:-0}, clean-up ${phase_count[clean-up]:-0}"
echo "  kills before the recovery file was written: $before_record; runs that ended before the kill came: $ended_count"
echo "  kills by method:  wineserver -k ${method_count[wineserver]:-0}, taskkill /F ${method_count[taskkill]:-0}, SIGKILL ${method_count[sigkill]:-0}"
echo "  session traces left:       $total_left"
echo "  pre-session traces lost:   $total_lost"
echo "  runs with a trace left or lost: $failed_runs; runs with another anomaly: $anomalies"
echo "  the profile after all runs against the one before them:"
printf '%s\n' "$campaign" | sed 's/^/  /'
if [ $total_left -ne 0 ] || [ $total_lost -ne 0 ] || [ $anomalies -ne 0 ]; then
    echo "  listings and screenshots kept in $work"
    exit 1
fi
rm -rf "$work"
exit 0
