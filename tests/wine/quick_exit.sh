#!/bin/sh
# Runs a quick failing run (the hand-off key missing) many times under plain
# wine, as a shell or a scheduler's script would: every run must end with
# status 1 and write nothing on stderr. A thread left at the process's end
# made Wine's launcher report 137 and write a "wine client error" line.
#   quick_exit.sh <prefix dir> <program> <runs> [Wine loader, "wine" by default]
set -u
export WINEPREFIX="$1"
wine=${4:-wine}
if [ "$wine" != wine ]; then export WINELOADER="$wine"; fi
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
program=$2
runs=$3
key='HKCU\Software\Quennet\Ulvex'
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The key is put back as it was after the runs.
had_key=0
if "$wine" reg export "$key" "$work/key.reg" /y >/dev/null 2>&1; then
  had_key=1
fi
"$wine" reg delete "$key" /f >/dev/null 2>&1

failures=0
run=1
while [ "$run" -le "$runs" ]; do
  "$wine" "$program" /taskid=7 >"$work/out" 2>"$work/err" </dev/null
  status=$?
  if [ "$status" -ne 1 ] || [ -s "$work/err" ]; then
    failures=$((failures + 1))
    echo "run $run: status $status; stderr: $(cat "$work/err")"
  fi
  run=$((run + 1))
done

if [ "$had_key" -eq 1 ]; then
  "$wine" reg import "$work/key.reg" >/dev/null 2>&1
fi
echo "$failures of $runs runs did not end with status 1 and an empty stderr"
[ "$failures" -eq 0 ]
