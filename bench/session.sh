#!/usr/bin/env bash
# Runs one benchmark script of this folder in a desktop session of its own,
# with surf installed as the peer.
#   bench/session.sh SCRIPT.py [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
script=$1
build=$(cd "${2:-$here/build}" && pwd)
bash "$here/scripts/deps.sh" --bench
export PELKO_APP_DIR=$build/app PELKO_SERVICE_BIN=$build/service/pelko-service
# Updates in a benchmark are signed with the build's demo key.
export PELKO_SIGNING_KEY=$build/keys/pelko.key PELKO_MINISIGN=${PELKO_MINISIGN:-$(command -v minisign || true)}
exec "$here/tests/gui/xsession.sh" /usr/bin/python3 -W ignore "$here/bench/$script"
