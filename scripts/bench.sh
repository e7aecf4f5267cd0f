#!/usr/bin/env bash
# Runs the benchmarks under Wine and prints their figures: the progress
# latency, idle cost and lost texts of the wait, and the time of a whole task
# with the stand-in host. They measure; they do not pass or fail.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset i686 >/dev/null
cmake --build --preset i686 --target progress_latency task_time_bench >/dev/null

prefix=$PWD/build/i686/wineprefix
tests/wine/prefix.sh up "$prefix"
trap 'tests/wine/prefix.sh down "$prefix"' EXIT

build/i686/wine-run.sh build/i686/bin/progress_latency.exe
build/i686/wine-run.sh build/i686/bin/task_time_bench.exe
