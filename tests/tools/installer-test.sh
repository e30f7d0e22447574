#!/bin/sh
# The setup program and its uninstaller in a fresh Wine prefix: install,
# run, install over it, a session killed while browsing, uninstall. After it
# the registry's Software keys and the files outside the stores are as before
# the install, and the stores (audited afresh) hold the user's traces only.
#   installer-test.sh <setup program> <folder of Nulvane's tools>
set -u
. "$(dirname "$0")/../../tools/wine-session.sh"
nulvane_root=$(cd "$(dirname "$0")/../.." && pwd)
setup=$1 driver="$2/nulvane_session_driver.exe" audit="$2/nulvane_trace_audit.exe"
w="$nulvane_root/cmake/wine-run.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/nulvane-installer.XXXXXX")
# No Linux menu entries for the shortcuts the install makes.
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES=winemenubuilder.exe=d
trap 'wineserver -k 2>/dev/null; rm -rf "$work"' EXIT
cd "$work" && nulvane_prepare_prefix
drive="$WINEPREFIX/drive_c" user=$(id -un) dir='C:\Apps\Nulvane' status=0
fail() { printf 'FAILED: %s\n' "$*"; status=1; }
run() { "$w" "$@" </dev/null >/dev/null 2>&1; }
# expect <key> <value name, empty for the default> <data>
expect() {
    q=/ve; [ -n "$2" ] && q="/v $2"
    got=$("$w" reg query "$1" $q </dev/null 2>/dev/null | tr -d '\r' | sed -n 's/^    .*    REG_[A-Z_]*    //p')
    [ "$got" = "$3" ] || fail "$1 [$2] holds '$got', not '$3'"
}
# snap <name>: every value under its key, and every file but Windows' own.
snap() {
    for root in HKLM HKCU; do
        run reg export "$root\\Software" "Z:$PWD/$root.reg" /y
        iconv -f utf-16 -t utf-8 "$root.reg" | tr -d '\r' | awk '/^\[/ {k = $0; print; next} NF {print k "|" $0}'
    done >"$1.reg"
    (cd "$drive" && find . -path ./windows -prune -o -print | sort) >"$1.files"
}
# unchanged <before> <after> <what>: the same but for the stores (audited), the launcher every start
# records, the FTP setting the program keeps for itself and what Wine writes on first use.
unchanged() {
    [ -s "$1.reg" ] && [ -s "$2.reg" ] || fail "no registry export for $3"
    d=$(for x in reg files; do diff "$1.$x" "$2.$x"; done | grep '^[<>]' |
        grep -v -e /INetCache -e /INetCookies -e /History -e /Macromedia -e /Sun/ -e 'nulvane\]|"path"=' \
            -e 'nulvane\]|"EXEName"=' -e 'Microsoft\\FTP\]' -e '"ProxyEnable"=' -e 'Software\\Wine\\')
    [ -z "$d" ] || fail "$3 changed:
$d"
}

run "$driver" seed user
# The user's own: a content type for .htm, the folder the program goes in
# (Wine's prefix has its own http and https choices, ProgId http and https).
run reg add 'HKCU\Software\Classes\.htm' /v 'Content Type' /d text/html /f
choice='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts\.htm'
run reg add "$choice" /f
mkdir -p "$drive/Apps"
"$w" "$audit" </dev/null >before.txt
snap pristine

run "$setup" /S "/D=$dir" || fail "the install ended with $?"
ls "$drive/Apps/Nulvane/Nulvane.exe" "$drive/Apps/Nulvane/Uninstall.exe" \
    "$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/Nulvane.lnk" >/dev/null || fail "files are missing"
entry='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Nulvane'
expect "$entry" DisplayName Nulvane
expect "$entry" DisplayVersion "$(basename "$setup" | sed 's/^Nulvane-\(.*\)-setup\.exe$/\1/')"
expect "$entry" Publisher 'The Nulvane developers'
expect "$entry" DisplayIcon "$dir\\Nulvane.exe,0"
expect "$entry" UninstallString "\"$dir\\Uninstall.exe\""
expect "$entry" QuietUninstallString "\"$dir\\Uninstall.exe\" /S"
expect "$entry" InstallLocation "$dir"
[ "$("$w" reg query "$entry" </dev/null | tr -s ' ' | grep -c -e 'NoModify REG_DWORD 0x1' -e 'NoRepair REG_DWORD 0x1' \
    -e 'EstimatedSize REG_DWORD 0x[1-9a-f]')" -eq 3 ] || fail "NoModify, NoRepair or EstimatedSize is missing"
# The program's own registration, for the installed program (not the setup).
expect "HKLM\\Software\\Clients\\StartMenuInternet\\Nulvane.$user\\shell\\open\\command" '' "\"$dir\\Nulvane.exe\""
expect 'HKLM\Software\RegisteredApplications' "Nulvane.$user" "SOFTWARE\\Clients\\StartMenuInternet\\Nulvane.$user\\Capabilities"
expect "HKLM\\Software\\Classes\\NulvaneHTML.$user\\shell\\open\\command" '' "\"$dir\\Nulvane.exe\" \"%1\""

cp "$drive/Apps/Nulvane/Uninstall.exe" uninstall.exe
# While the program runs, neither an install nor an uninstall changes anything.
"$w" "$dir\\Nulvane.exe" </dev/null >/dev/null 2>&1 &
run "$driver" wait-window 60000 || fail "the installed program showed no window"
snap running
run "$setup" /S; [ $? -eq 2 ] || fail "an install while the program runs did not end with 2"
# _?= runs this copy in place of NSIS's own temporary one, which cannot be waited for.
run ./uninstall.exe /S "_?=$dir"; [ $? -eq 2 ] || fail "an uninstall while the program runs did not end with 2"
snap refused
unchanged running refused "a refused install or uninstall"
run "$driver" close
wait $! || fail "the program ended with $?"

snap installed
run "$setup" /S || fail "the install over it ended with $?"
snap upgraded
unchanged installed upgraded "an install over the installation"

# The third start asks to become the default browser: yes. A kill while browsing leaves the
# recovery file, traces, the user's cookies set aside; then the choice as Windows 7 records it.
run reg add 'HKCU\Software\Nulvane' /v RI /t REG_DWORD /d 2 /f
"$w" "$dir\\Nulvane.exe" </dev/null >/dev/null 2>&1 &
run "$driver" answer Nulvane 6 60000 || fail "no question to make the program the default"
run "$driver" wait-window 60000 || fail "no window after the question"
expect 'HKCU\Software\Classes\http\shell\open\command' '' "\"$dir\\Nulvane.exe\" \"%1\""
run "$driver" browse user 1
"$w" "$audit" </dev/null >during.txt
run "$driver" kill || fail "no program to kill"
run reg add "$choice\\UserChoice" /v ProgId /d "NulvaneHTML.$user" /f
[ -f "$drive/users/$user/AppData/Roaming/Nulvane/recovery.lck" ] || fail "the killed session left no recovery file"

run ./uninstall.exe /S "_?=$dir" || fail "the uninstall ended with $?"
"$w" "$audit" </dev/null >after.txt
"$w" "$driver" compare before.txt during.txt after.txt --list </dev/null >traces.txt || fail "$(cat traces.txt)"
grep -q 'added: *[1-9]' traces.txt && grep -q 'meanwhile: *[1-9]' traces.txt || fail "the session added or set aside nothing"
snap removed
unchanged pristine removed "the machine, from before the install to after the uninstall,"
exit $status
