#!/usr/bin/env bash
# An hour of use with flat memory: see bench/soak.py.
#   SOAK_MINUTES=60 bench/soak.sh [BUILD_DIR]
# Writes docs/soak.csv and docs/soak.png (SOAK_OUT=folder to write elsewhere).
exec bash "$(dirname "$0")/session.sh" soak.py "$@"
