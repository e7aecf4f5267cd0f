#!/usr/bin/env bash
# The test bundle's run-tests.cmd under Wine's cmd, with FakeSuite.exe in
# the place of the three test programs: it changes what the suite changes
# and leaves it changed, then passes, fails, crashes or hangs as
# ULVEX_FAKE_SUITE says. The keys run-tests.cmd puts back are exported
# before and after each run (reg export, both registry views) and compared.
#   bundle_check.sh <prefix dir> <build bin dir> <Wine loader>
set -euo pipefail
prefix=$1
bin=$2
loader=${3:-wine}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ "$loader" != wine ]; then export WINELOADER=$loader; fi
unset ULVEX_FAKE_SUITE

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bundle=$work/Ulvex\ Tests
mkdir -p "$bundle/bin"
cp "$source_dir/tests/bundle/run-tests.cmd" "$bundle/"
cp "$bin/SuiteReport.exe" "$bundle/bin/"
for program in unit_tests win32_tests system_tests; do
  cp "$bin/FakeSuite.exe" "$bundle/bin/$program.exe"
done
windows() { printf 'Z:%s' "${1//\//\\}"; }
script=$(windows "$bundle/run-tests.cmd")
report=$bundle/report
failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

# Exports every key run-tests.cmd puts back into folder $1, one file each
# ("absent" when there is none), and notes the run lock's folder.
# (Wine keeps the user's classes apart from the machine's, and its
# HKCU\Software\Classes holds its 32-bit view as a subkey.)
keys=('HKCU\Software\Quennet /reg:64' 'HKCU\Software\Microsoft\Office /reg:64'
      'HKCU\Software\UlvexTest /reg:64' 'HKCU\Software\Classes /reg:64')
for key in Excel.Application Excel.Application.99 CLSID AppID; do
  for view in 32 64; do
    keys+=("HKLM\\Software\\Classes\\$key /reg:$view")
  done
done
snapshot() {
  local folder=$1 key n=0
  rm -rf "$folder"
  mkdir -p "$folder"
  for key in "${keys[@]}"; do
    n=$((n + 1))
    "$loader" reg export "${key% *}" "$(windows "$folder/$n.reg")" /y "${key##* }" \
      >/dev/null 2>&1 || echo "absent: $key" >"$folder/$n.reg"
  done
  ls -d "$prefix"/drive_c/users/*/AppData/Local/Quennet/UlvexCmdLine \
    >"$folder/lock-folder" 2>/dev/null || true
}
same() {
  if diff -r "$1" "$2" >/dev/null; then return 0; fi
  diff -r "$1" "$2" | head -20 | sed 's/^/  /'
  return 1
}
run_bundle() {
  local status=0
  (cd "$work" && "$loader" cmd /c "$script" "$@" >"$work/out.txt" 2>&1) || status=$?
  tr -d '\r' <"$work/out.txt" >"$work/out"
  # report.txt without its line ends' carriage returns.
  tr -d '\r' 2>/dev/null <"$report/report.txt" >"$work/report" || : >"$work/report"
  return $status
}

# 1. Refused with a foreign Excel.Application (32-bit view): status 2,
#    the reason, and nothing changed.
snapshot "$work/clean"
"$loader" reg add 'HKLM\Software\Classes\Excel.Application\CLSID' /ve \
  /d '{0F0F0F0F-0000-4000-8000-0000000000F0}' /f /reg:32 >/dev/null 2>&1
"$loader" reg add \
  'HKLM\Software\Classes\CLSID\{0F0F0F0F-0000-4000-8000-0000000000F0}\LocalServer32' \
  /ve /d 'C:\Program Files\Foreign\EXCEL.EXE /automation' /f /reg:32 >/dev/null 2>&1
snapshot "$work/foreign"
status=0
run_bundle || status=$?
snapshot "$work/after-refusal"
[ "$status" -eq 2 ] || fail "refusal: status $status, not 2"
grep -q 'Excel.Application is registered to C:\\Program Files\\Foreign\\EXCEL.EXE (HKEY_LOCAL_MACHINE\\Software\\Classes, 32-bit view)' "$work/out" ||
  fail "refusal: no reason in: $(cat "$work/out")"
same "$work/foreign" "$work/after-refusal" || fail "refusal: the registry changed"
[ ! -e "$report" ] || fail "refusal: a report folder was made"
"$loader" reg delete 'HKLM\Software\Classes\Excel.Application' /f /reg:32 >/dev/null 2>&1
"$loader" reg delete 'HKLM\Software\Classes\CLSID\{0F0F0F0F-0000-4000-8000-0000000000F0}' \
  /f /reg:32 >/dev/null 2>&1
echo "refusal: status $status, $(head -1 "$work/out" | cut -c1-60)..."

# 2. A whole run, started from another folder, with a failing test and a
#    crashing program: status 1, both named, the program after the crash
#    still run and counted, the machine's facts, every key as before.
status=0
ULVEX_FAKE_SUITE="unit_tests:fail win32_tests:crash" run_bundle || status=$?
snapshot "$work/after-run"
[ "$status" -eq 1 ] || fail "run: status $status, not 1"
grep -Eq '^unit_tests\.exe +1 +1 +1  1$' "$work/report" ||
  fail "run: no row 1 passed, 1 failed, 1 skipped for unit_tests.exe"
grep -q '^  unit_tests.exe: FakeTest.MayFail$' "$work/report" ||
  fail "run: the failed test is not named"
grep -q '^  win32_tests.exe: ended with status -1073741819 before it wrote its results' \
  "$work/report" || fail "run: the crashed program is not named"
grep -Eq '^system_tests\.exe +2 +0 +1  0$' "$work/report" ||
  fail "run: the program after the crash did not run"
for fact in Windows architecture elevated session 'integrity level' \
            'code pages' interactive; do
  grep -q "^$fact " "$work/report" || fail "run: no line '$fact'"
done
same "$work/clean" "$work/after-run" || fail "run: the registry was not put back"
echo "run with a failure and a crash: status $status"

# 3. A run stopped while a program runs (its cmd ended, as after answering
#    Y to "Terminate batch job"): the machine stays changed until
#    run-tests.cmd /restore, which puts every key back.
(cd "$work" && ULVEX_FAKE_SUITE="win32_tests:hang" \
   "$loader" cmd /c "$script" >"$work/stopped.txt" 2>&1) &
runner=$!
for _ in $(seq 300); do
  [ -e "$report/win32_tests.started" ] && break
  sleep 0.1
done
[ -e "$report/win32_tests.started" ] || fail "stop: win32_tests.exe never started"
kill -KILL "$runner" 2>/dev/null || true
wait "$runner" 2>/dev/null || true
"$loader" taskkill /f /im win32_tests.exe >/dev/null 2>&1 || true
"$loader" reg query 'HKCU\Software\UlvexTest\FakeSuite' >/dev/null 2>&1 ||
  fail "stop: nothing was changed before the stop (the test proves nothing)"
status=0
run_bundle /restore || status=$?
snapshot "$work/after-restore"
[ "$status" -eq 0 ] || fail "stop: /restore ended with status $status"
same "$work/clean" "$work/after-restore" || fail "stop: /restore did not put the registry back"
echo "stop: /restore status $status"

if [ "$failures" -ne 0 ]; then
  echo "bundle check: $failures failure(s)"
  exit 1
fi
echo "bundle check: the refusal, a run with a crash and a stopped run all left the machine as it was"
