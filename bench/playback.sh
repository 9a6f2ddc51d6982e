#!/usr/bin/env bash
# Watching the HLS channel: Pelko against surf, first frame, CPU and memory.
#   bench/playback.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
bash "$here/scripts/deps.sh" --bench
export PELKO_APP_DIR=$build/app PELKO_SERVICE_BIN=$build/service/pelko-service
exec "$here/tests/gui/xsession.sh" /usr/bin/python3 -W ignore "$here/bench/playback.py"
