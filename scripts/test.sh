#!/usr/bin/env bash
# Builds everything and runs every test: the native unit tests, the
# sanitizer build of them with a short fuzz run, the 64-bit Windows build
# (compile check), the release package (its size, two builds from clean
# compared byte for byte, a signature with a throwaway certificate), a
# lint of the shell scripts (shellcheck), the main job (scripts/demo.sh, one
# whole task under Wine), the guide's help texts and sizes against the
# program and the package, then the shipped 32-bit Windows build with all
# its tests under Wine. Ends with CTest's summary of that last run. On a
# machine whose kernel cannot run 32-bit programs (scripts/wine-arch.sh),
# the demo and the Windows tests run on the 64-bit build instead.
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

source scripts/wine-arch.sh
# The Windows tests' prefix stops with this script, also when it is cut
# short (CTest's own clean-up does not run then).
stop_prefixes_on_exit "$PWD/build/$ULVEX_PRESET/wineprefix"

echo "== the main job: scripts/demo.sh runs a whole task"
bash tests/wine/demo_check.sh

echo "== check the guide: help texts against the help screen, sizes against the package"
bash tests/wine/guide_check.sh build/package.log

if [ "$ULVEX_PRESET" = i686 ]; then
  echo "== i686-w64-mingw32: build and all tests under Wine"
  cmake --preset i686 >/dev/null
  cmake --build --preset i686 -j "$jobs"
  ctest --preset i686
else
  echo "== i686-w64-mingw32: build and import-table check"
  echo "NOTE: $ULVEX_WINE_NOTE."
  cmake --preset i686 >/dev/null
  cmake --build --preset i686 -j "$jobs"
  ctest --preset i686 -R "ProgramImports|CheckImports"
  echo "== x86_64-w64-mingw32: all tests under 64-bit Wine"
  ctest --preset x86_64
fi
