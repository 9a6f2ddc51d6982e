#!/usr/bin/env bash
# Pelko against surf, Chromium --app and mpv in one run: see bench/compare.py.
#   bench/compare.sh [BUILD_DIR]        (RUNS=5 PLAY_MINUTES=10 CPU_SECONDS=60 by default)
# Draws docs/bench.png (BENCH_OUT=folder to draw elsewhere).
exec bash "$(dirname "$0")/session.sh" compare.py "$@"
