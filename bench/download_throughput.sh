#!/usr/bin/env bash
# Throughput and peak memory of the download control against curl, over
# loopback from the demo service: a 200 MB file, five runs each, medians.
# The control should reach at least 0.9x curl's throughput, and its peak RSS
# should not grow with the file (it streams to disk).
#
# usage: bench/download_throughput.sh [BUILD_DIR] [SIZE_MB]
#   BUILD_DIR holds tests/dl_bench and service/pelko-service (default: build)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
size_mb=${2:-200}
runs=5
driver=$build/tests/dl_bench
service=$build/service/pelko-service
[ -x "$driver" ] || { echo "missing $driver: build the dl_bench target" >&2; exit 1; }
for tool in curl bc; do
  command -v $tool >/dev/null || { echo "$tool is needed" >&2; exit 1; }
done

work=$(mktemp -d /tmp/pelko-bench-XXXXXX)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/www" "$work/curl" "$work/control"

# Random bytes, so that nothing on the way can compress them. A small file
# beside it shows whether the peak memory depends on the size.
head -c "${size_mb}M" /dev/urandom > "$work/www/big.bin"
head -c 20M /dev/urandom > "$work/www/small.bin"

# The demo service when it is built; Python's server otherwise.
if [ -x "$service" ]; then
  "$service" --root "$work/www" --port 0 > "$work/server.log" 2>&1 &
  server_pid=$!
  pattern='listening on http://127\.0\.0\.1:[0-9]+'
  server_name="pelko-service"
else
  python3 -u -m http.server --bind 127.0.0.1 --directory "$work/www" 0 \
    > "$work/server.log" 2>&1 &
  server_pid=$!
  pattern='port [0-9]+'
  server_name="python3 http.server"
fi
port=
for _ in $(seq 100); do
  port=$(grep -oE "$pattern" "$work/server.log" | grep -oE '[0-9]+$' || true)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "the server did not start:" >&2; cat "$work/server.log" >&2; exit 1; }
base="http://127.0.0.1:$port"

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# One run of each client; appends "seconds rss_kb" to its result file.
run_curl() {
  local name=$1 out=$work/curl/$1
  rm -f "$out"
  /usr/bin/time -f '%M' -o "$work/time.txt" \
    curl -sS -o "$out" -w '%{time_total}\n' "$base/$name" > "$work/curl.txt"
  # The control flushes the file to the disk before it replaces the target;
  # curl does not. The time of that flush for curl's file gives the fair
  # comparison of the same guarantee.
  local t0 t1
  t0=$(date +%s.%N); sync "$out"; t1=$(date +%s.%N)
  echo "$(cat "$work/curl.txt") $(cat "$work/time.txt") $(echo "$t1 - $t0" | bc -l)" \
    >> "$work/curl-$name.res"
}
run_control() {
  local name=$1
  rm -f "$work/control/$name"
  /usr/bin/time -f '%M' -o "$work/time.txt" \
    "$driver" "$base/$name" "$work/control" > "$work/control.txt"
  local secs
  secs=$(grep -oE 'seconds=[0-9.]+' "$work/control.txt" | cut -d= -f2)
  cmp -s "$work/control/$name" "$work/www/$name" || { echo "control: wrong bytes" >&2; exit 1; }
  echo "$secs $(cat "$work/time.txt")" >> "$work/control-$name.res"
}

# A warm-up of each, then the runs interleaved so that both see the same machine.
run_curl small.bin; run_control small.bin
rm -f "$work"/*.res
for name in big.bin small.bin; do
  for _ in $(seq "$runs"); do
    run_curl "$name"
    run_control "$name"
  done
done

stat_of() {  # file column -> median
  awk -v c="$2" '{ print $c }' "$1" | median
}
mb=$size_mb
curl_s=$(stat_of "$work/curl-big.bin.res" 1)
ctl_s=$(stat_of "$work/control-big.bin.res" 1)
curl_rss=$(stat_of "$work/curl-big.bin.res" 2)
curl_sync_s=$(awk '{ print $1 + $3 }' "$work/curl-big.bin.res" | median)
ctl_rss=$(stat_of "$work/control-big.bin.res" 2)
ctl_rss_small=$(stat_of "$work/control-small.bin.res" 2)
curl_rss_small=$(stat_of "$work/curl-small.bin.res" 2)

echo "server: $server_name at $base; file: $mb MiB; medians of $runs runs"
awk -v mb="$mb" -v cs="$curl_s" -v ks="$ctl_s" -v cr="$curl_rss" -v kr="$ctl_rss" -v css="$curl_sync_s" \
    -v krs="$ctl_rss_small" -v crs="$curl_rss_small" 'BEGIN {
  printf "%-11s %10s %12s %16s %16s\n", "client", "seconds", "MiB/s", "peak RSS big", "peak RSS 20M"
  printf "%-11s %10.3f %12.1f %13d kB %13d kB\n", "curl", cs, mb / cs, cr, crs
  printf "%-11s %10.3f %12.1f\n", "curl+fsync", css, mb / css
  printf "%-11s %10.3f %12.1f %13d kB %13d kB\n", "control", ks, mb / ks, kr, krs
  printf "throughput ratio control/curl: %.2f (goal >= 0.90)\n", cs / ks
  printf "throughput ratio control/(curl+fsync), the same guarantee: %.2f\n", css / ks
  printf "control RSS growth from 20M to %dM: %+d kB\n", mb, kr - krs
}'
