#!/usr/bin/env bash
# Builds the test bundle from one Windows build of this tree, with that
# build's two programs stripped and padded as the release's are:
#   bash scripts/bundle.sh [i686|x86_64]   (default: the build this machine's
#                                          Wine runs, scripts/wine-arch.sh)
# writes build/<preset>/bundle/UlvexTests-<version>.zip and prints its path.
# scripts/package.sh makes the shipped bundle from the 32-bit build and the
# release's very programs; this one lets a machine whose kernel cannot run
# 32-bit programs run the same bundle from the 64-bit build.
set -euo pipefail
shopt -s inherit_errexit
cd "$(dirname "$0")/.."

if [ -n "${1:-}" ]; then ULVEX_PRESET=$1; fi
source scripts/wine-arch.sh
source_date=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 315532800)}
source scripts/package-lib.sh

build=build/$ULVEX_PRESET
out=$build/bundle
version=$(sed -n 's/^project(UlvexCmdLine VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
cmake --preset "$ULVEX_PRESET" >/dev/null
cmake --build "$build" --target "${bundle_programs[@]%.exe}" >/dev/null
strip=$(sed -n 's/^CMAKE_STRIP:FILEPATH=//p' "$build/CMakeCache.txt")
mkdir -p "$out/programs"
for program in "${bundle_programs[@]}"; do
  cp "$build/bin/$program" "$out/programs/$program"
  SOURCE_DATE_EPOCH=0 "$strip" "$out/programs/$program"
  pad_for_signing "$out/programs/$program"
done
make_bundle "$build" "$out/programs" "$out" "UlvexTests-$version.zip"
