#!/usr/bin/env bash
# Runs the test bundle as the Windows CI job does: unpacked into a new
# folder outside the build tree, run-tests.cmd under Wine's cmd, in the
# prefix that CTest's run of the same build has just used (a machine that a
# whole run of the suite has been through must pass again). Then compares
# passed, failed and skipped per program in its report.txt with CTest's
# results for the same programs (read from CTest's JUnit file and its test
# list). Status 0 only when the bundle passed and the counts agree.
#   bundle_run.sh <bundle ZIP> <build dir> <CTest JUnit file> <Wine loader>
set -euo pipefail
zip=$1
build=$(cd "$2" && pwd)
junit=$3
loader=${4:-wine}
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ "$loader" != wine ]; then export WINELOADER=$loader; fi
here=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
  "$zip" "$work"
bundle=$(find "$work" -mindepth 1 -maxdepth 1 -type d | head -1)
echo "bundle: $(basename "$zip") unpacked into $bundle"
"$here/prefix.sh" up "$WINEPREFIX" "$loader"
windows() { printf 'Z:%s' "${1//\//\\}"; }
status=0
(cd "$work" && "$loader" cmd /c "$(windows "$bundle/run-tests.cmd")" \
   "$(windows "$work/report")" >"$work/run.log" 2>&1) || status=$?
tr -d '\r' <"$work/run.log" | grep -v '^\[' | grep -v '^$' | tail -40 || true
echo "run-tests.cmd: status $status"

# CTest's passed, failed and skipped per program, beside the report's rows.
(cd "$build" && ctest --show-only=json-v1) >"$work/tests.json"
compare=0
python3 - "$work/tests.json" "$junit" "$work/report/report.txt" <<'PYTHON' || compare=$?
import json, re, sys, xml.etree.ElementTree as ET
tests, junit, report = sys.argv[1:4]
programs = ("unit_tests", "win32_tests", "system_tests")
program_of = {}
for test in json.load(open(tests))["tests"]:
    for word in test.get("command", []):
        name = re.sub(r".*[\\/]", "", word)
        if name.removesuffix(".exe") in programs:
            program_of[test["name"]] = name.removesuffix(".exe")
ctest = {p: [0, 0, 0] for p in programs}
for case in ET.parse(junit).getroot().iter("testcase"):
    program = program_of.get(case.get("name"))
    status = case.get("status")
    if program is None or status == "disabled":
        continue
    column = {"run": 0, "fail": 1, "notrun": 2}.get(status)
    if column is None:
        column = 1
    ctest[program][column] += 1
bundle = {}
for line in open(report, encoding="utf-8", errors="replace"):
    row = re.match(r"(\w+)\.exe +(\d+) +(\d+) +(\d+) ", line)
    if row:
        bundle[row[1]] = [int(row[2]), int(row[3]), int(row[4])]
differ = 0
print("program            CTest (passed/failed/skipped)   bundle")
for p in programs:
    mine = bundle.get(p)
    print(f"{p + '.exe':18} {'/'.join(map(str, ctest[p])):32} "
          f"{'/'.join(map(str, mine)) if mine else 'no results'}")
    if mine != ctest[p]:
        differ = 1
print("counts: " + ("DIFFERENT from CTest's" if differ else "the same as CTest's"))
sys.exit(differ)
PYTHON
mkdir -p "$build/bundle-report"
cp "$work"/report/* "$build/bundle-report/" 2>/dev/null || true
echo "bundle report kept in $build/bundle-report"
if [ "$status" -ne 0 ] || [ "$compare" -ne 0 ]; then exit 1; fi
