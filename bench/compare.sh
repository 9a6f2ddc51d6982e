#!/usr/bin/env bash
# Pelko against surf, Chromium --app and mpv in one run: see bench/compare.py.
#   bench/compare.sh [BUILD_DIR]   (RUNS=5 PLAY_MINUTES=5 CPU_SECONDS=60 SWITCHES=20 by default)
# Draws docs/bench.png and keeps the run's log beside it as docs/bench.log
# (BENCH_OUT=folder to put both elsewhere).
set -euo pipefail
out=${BENCH_OUT:-$(cd "$(dirname "$0")/.." && pwd)/docs}
mkdir -p "$out"
BENCH_OUT=$out bash "$(dirname "$0")/session.sh" compare.py "$@" 2>&1 | tee "$out/bench.log"
