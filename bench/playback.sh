#!/usr/bin/env bash
# Watching the HLS channel: Pelko against surf, first frame, CPU and memory.
#   bench/playback.sh [BUILD_DIR]
exec bash "$(dirname "$0")/session.sh" playback.py "$@"
