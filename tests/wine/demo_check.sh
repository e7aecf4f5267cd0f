#!/usr/bin/env bash
# Runs the README's first command, scripts/demo.sh, as a new user would and
# checks the main job: the installation check says the installation is
# ready, one whole task runs and ends with status 0, and the transcript has
# the banner, the echo of the switches, time-stamped progress lines and the
# add-in's final success line last. Then a failing task (its time limit runs
# out) must end the demo with status 1. Prints the transcript when
# a check fails; the demo stops its Wine prefix itself, also when it is cut
# off after the time limit given (seconds, 600 by default).
#   demo_check.sh [time limit]
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 2
limit=${1:-600}
transcript=$(mktemp)
trap 'rm -f "$transcript"' EXIT

status=0
timeout "$limit" bash scripts/demo.sh >"$transcript" 2>&1 || status=$?
# The program's lines end with CR LF.
lines=$(tr -d '\r' <"$transcript")

failures=0
check() {  # check <what> <test command>...
  local what=$1
  shift
  if "$@"; then
    echo "PASS: $what"
  else
    echo "FAIL: $what"
    failures=$((failures + 1))
  fi
}
has_line() { grep -qxE -- "$1" <<<"$lines"; }
# The line the program printed last: the one before the demo's "Exit status".
last_line() { grep -B1 -E '^Exit status: ' <<<"$lines" | head -1; }
stamp='[0-9]{2}:[0-9]{2}:[0-9]{2}:'

check "the demo exits with status 0 (status $status)" [ "$status" -eq 0 ]
check "the banner" has_line 'Ulvexia \(Ulvex\) - Command Line Interface'
check "the echo of the task ID" \
  has_line "Argument #0 is -TaskID set to 'MonthEnd-42'"
check "the echo of a parameter with a blank" \
  has_line "Argument #3 is -Task Parameter with optional argument 'North region'"
check "a time-stamped progress line" has_line "${stamp}Task 'MonthEnd-42' started.*"
check "the final success line, last" \
  grep -qxE "${stamp}QUIT - Task SUCCEEDED, process exit code 0" <<<"$(last_line)"
check "the exit status shown is 0" has_line 'Exit status: 0 .*'
# The installation check ran first: its lines, and its verdict last.
check "the installation check's host check" \
  has_line 'ok   host-start        Excel 16.0 started in .*'
check "the installation check's last line: ready" \
  grep -qxE 'This installation is ready for an unattended Ulvex Task.' \
  <<<"$(grep -B1 -E '^Check status: ' <<<"$lines" | head -1)"
check "the installation check's status is 0" has_line 'Check status: 0'

# A task that fails (here: its time limit runs out long before the add-in
# ends) must end the demo with the program's status, never mask it.
failing=$(mktemp)
failing_status=0
ULVEX_TIME_LIMIT=3s timeout "$limit" bash scripts/demo.sh >"$failing" 2>&1 ||
  failing_status=$?
failing_lines=$(tr -d '\r' <"$failing")
cat "$failing" >>"$transcript"
rm -f "$failing"
has_failing_line() { grep -qxE -- "$1" <<<"$failing_lines"; }
check "a failing task ends the demo with status 1 (status $failing_status)" \
  [ "$failing_status" -eq 1 ]
check "the failing task's time limit line" has_failing_line \
  "${stamp}The Ulvex Task did not end within the time limit \\(ULVEX_TIME_LIMIT=3s\\)\\."
check "the exit status shown is 1" has_failing_line 'Exit status: 1 .*'

if [ "$failures" -ne 0 ]; then
  echo "--- the demo's transcript:"
  cat "$transcript"
  echo "---"
  echo "demo: $failures check(s) failed"
  exit 1
fi
