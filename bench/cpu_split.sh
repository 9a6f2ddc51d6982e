#!/usr/bin/env bash
# Where the CPU time of a start and of a channel switch goes, Pelko against surf.
#   bench/cpu_split.sh [BUILD_DIR]
exec bash "$(dirname "$0")/session.sh" cpu_split.py "$@"
