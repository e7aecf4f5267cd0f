#!/usr/bin/env bash
# Runs the benchmarks under Wine and prints their figures: the progress
# latency, idle cost and lost texts of the wait, and the time of a whole task
# with the stand-in host. They measure; they do not pass or fail.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
source scripts/wine-arch.sh
if [ -n "$ULVEX_WINE_NOTE" ]; then echo "NOTE: $ULVEX_WINE_NOTE."; fi
build=build/$ULVEX_PRESET
cmake --preset "$ULVEX_PRESET" >/dev/null
cmake --build --preset "$ULVEX_PRESET" --target progress_latency task_time_bench >/dev/null

prefix=$PWD/$build/wineprefix
stop_prefixes_on_exit "$prefix"
tests/wine/prefix.sh up "$prefix" "$ULVEX_WINE"

"$build/wine-run.sh" "$build/bin/progress_latency.exe"
"$build/wine-run.sh" "$build/bin/task_time_bench.exe"
