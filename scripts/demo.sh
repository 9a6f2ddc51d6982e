#!/usr/bin/env bash
# Installs what is missing, builds, starts the demo service and runs Pelko
# against it. Without a display it runs in a virtual one for a while and
# saves a screenshot to shots/pelko.png.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"

# The built-in host is the demo service's default port; if that port is
# taken, the service takes a free one and Pelko is told where.
port=8370
if (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null; then port=0; fi
log=$(mktemp /tmp/pelko-service.XXXXXX.log)
coproc SERVICE { exec build/service/pelko-service --port "$port" 2>"$log"; }
service_pid=$SERVICE_PID
trap 'kill $service_pid 2>/dev/null; wait $service_pid 2>/dev/null; rm -f "$log"' EXIT
read -r line <&"${SERVICE[0]}"
export PELKO_SERVICE_HOST=${line##* }
echo "demo service: $PELKO_SERVICE_HOST (log: $log)"

if [ -n "${DISPLAY:-}" ]; then
  build/app/Pelko
else
  mkdir -p shots
  tests/gui/xsession.sh bash -c '
    build/app/Pelko & pelko=$!
    sleep "${PELKO_DEMO_SECONDS:-12}"
    import -window root shots/pelko.png
    kill $pelko; wait $pelko 2>/dev/null || true'
  echo "no display: ran Pelko in a virtual one; screenshot in shots/pelko.png"
fi
