#!/usr/bin/env bash
# The main job: builds the program and runs one whole task under Wine, as a
# scheduled task would, against the stand-in host that the tests use in
# place of the spreadsheet host. Runs the installation check first and shows
# its lines. Shows what the program prints and its exit status, and ends
# with that status. Everything lives under build/demo (its
# own Wine prefix).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
source scripts/wine-arch.sh
if [ -n "$ULVEX_WINE_NOTE" ]; then echo "NOTE: $ULVEX_WINE_NOTE."; fi

cmake --preset "$ULVEX_PRESET" >/dev/null
cmake --build --preset "$ULVEX_PRESET" --target UlvexCmdLine UlvexCheck \
  StandInHost VersionFixture >/dev/null

root=$PWD
bin=$root/build/$ULVEX_PRESET/bin
demo=$root/build/demo
install=$demo/Ulvex
export WINEPREFIX=$demo/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# The install folder: the program and the installation check, the product
# executable whose version the banner shows, and the add-in workbook (here:
# the stand-in's script).
rm -rf "$install"
mkdir -p "$install/App"
cp "$bin/UlvexCmdLine.exe" "$bin/UlvexCheck.exe" "$install/"
cp "$bin/VersionFixture.exe" "$install/Ulvex_32.exe"
cp scripts/demo/App-Ulvex.script "$install/App/Ulvex"

# The prefix's server, the program and the host it started end with the
# script, whichever way it ends.
stop_prefixes_on_exit "$WINEPREFIX"
tests/wine/prefix.sh up "$WINEPREFIX" "$ULVEX_WINE"

# (No function is named after a command it runs: one named "wine" would
# call itself.)
winpath() { "$ULVEX_WINE" winepath -w "$1" 2>/dev/null | tr -d '\r'; }
wine_reg() { "$ULVEX_WINE" reg "$@" >/dev/null 2>&1; }

# What an installation provides: the hand-off key the add-in reads and
# writes, the host's class registration and the Office settings keys.
clsid='{7C2FB74B-F292-4A58-8030-206F6FD5E9CE}'
wine_reg add 'HKCU\Software\Quennet\Ulvex' /f
wine_reg add 'HKCR\Excel.Application\CLSID' /ve /d "$clsid" /f
wine_reg add 'HKCR\Excel.Application\CurVer' /ve /d 'Excel.Application.16' /f
wine_reg add "HKCR\\CLSID\\$clsid\\LocalServer32" /ve /d "$(winpath "$bin/StandInHost.exe")" /f
wine_reg add 'HKCU\Software\Microsoft\Office\16.0\Common\General' /f
wine_reg add 'HKCU\Software\Microsoft\Office\16.0\Common\Toolbars\Excel' /f
# The stand-in's scenario: its add-in script and its call log.
wine_reg add 'HKCU\Software\UlvexTest\StandInHost' /v Script /d "$(winpath "$install/App/Ulvex")" /f
wine_reg add 'HKCU\Software\UlvexTest\StandInHost' /v Log /d "$(winpath "$demo/host-calls.log")" /f

# Before the task, as before a first scheduled run: the installation check,
# its lines and its status (through a file: the host it starts inherits its
# output).
echo "\$ wine UlvexCheck.exe"
check_status=0
(cd "$install" && "$ULVEX_WINE" UlvexCheck.exe >"$demo/check.out" 2>&1) || check_status=$?
tr -d '\r' <"$demo/check.out"
echo "Check status: $check_status"
echo

rm -f "$demo/host-calls.log"

cd "$install"
# Other switches may be given to this script: bash scripts/demo.sh /taskid=7 /html
if [ $# -gt 0 ]; then
  command=(UlvexCmdLine.exe "$@")
else
  command=(UlvexCmdLine.exe /taskid=MonthEnd-42 /auto /p1=2026-11 "/p2=North region")
fi
# The command as a user would type it: an argument with a blank or a
# character the shell reads in double quotes.
typed() {
  if [[ $1 =~ ^[A-Za-z0-9_./=:,+%@-]+$ ]]; then
    printf ' %s' "$1"
  else
    local quoted=${1//\\/\\\\}
    quoted=${quoted//\"/\\\"}
    quoted=${quoted//\$/\\\$}
    quoted=${quoted//\`/\\\`}
    printf ' "%s"' "$quoted"
  fi
}
shown=""
for argument in "${command[@]:1}"; do shown+=$(typed "$argument"); done
echo "\$ wine UlvexCmdLine.exe$shown"
started=$(date +%s%N)
# Shown as it comes, through a file: a process Wine starts for the program
# (the desktop, the host) inherits its output and would keep a pipe open.
# The script waits for the program with wait, which a signal interrupts.
"$ULVEX_WINE" "${command[@]}" >"$demo/run.out" 2>&1 &
program=$!
tail -s 0.1 -f --pid=$program "$demo/run.out" &
follower=$!
status=0
wait $program || status=$?
ended=$(date +%s%N)
wait $follower || true
# The program ends its output with a line end; in HTML mode that is "<br>".
if [ -n "$(tail -c 1 "$demo/run.out")" ]; then echo; fi
elapsed_ms=$(( (ended - started) / 1000000 ))
echo "Exit status: $status   (run time ${elapsed_ms} ms)"
echo
echo "The stand-in host received these automation calls:"
grep -E '^(PUT|GET|METHOD) ' "$demo/host-calls.log" | sed 's/^/  /' || true
exit "$status"
