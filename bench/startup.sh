#!/usr/bin/env bash
# Start-up time and memory of Pelko against surf on the demo TV page.
#   bench/startup.sh [BUILD_DIR]
exec bash "$(dirname "$0")/session.sh" startup.py "$@"
