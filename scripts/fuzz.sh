#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/) with clang in build-fuzz/ and runs each on
# a copy of its seeds for the given seconds (30 by default), two at a time
# when the machine has the cores:
#   scripts/fuzz.sh [seconds] [target...]
#   scripts/fuzz.sh --build-only      builds every target, and runs none
# Names are those of fuzz/<name>_fuzz.cpp; without names every target runs.
# An input that breaks a property is kept as build-fuzz/findings/<name>/…
# and the script fails; the seeds in tests/fuzz/corpus are never written.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=30
build_only=0
if [ "${1:-}" = "--build-only" ]; then
  build_only=1
  shift
fi
if [[ ${1:-} =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
jobs=${PELKO_FUZZ_JOBS:-$(( $(nproc) >= 2 ? 2 : 1 ))}

# The web root and the demo key are made at configure time like in build/;
# the fuzz targets themselves need neither.
if [ ! -f build-fuzz/CMakeCache.txt ] && [ -d build/service/downloads ]; then
  mkdir -p build-fuzz/service/downloads
  cp -a build/service/downloads/. build-fuzz/service/downloads/
fi
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DPELKO_FUZZ=ON >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in fuzz/*_fuzz.cpp; do
    n=${f##*/}
    targets+=("${n%_fuzz.cpp}")
  done
fi
mkdir -p build-fuzz/runs
if ! cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]/%/_fuzz}" \
  >build-fuzz/runs/build.log 2>&1; then
  cat build-fuzz/runs/build.log
  exit 1
fi
[ "$build_only" = 1 ] && exit 0

run_one() {
  local name=$1 work=build-fuzz/runs/$1 findings=build-fuzz/findings/$1
  rm -rf "$work"
  mkdir -p "$work/corpus" "$findings"
  cp tests/fuzz/corpus/"$name"/* "$work/corpus/" 2>/dev/null || true
  local status=0
  # A fresh corpus folder per run: what the fuzzer adds stays in build-fuzz.
  build-fuzz/fuzz/"$name"_fuzz -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$findings/" "$work/corpus" >"$work/log" 2>&1 ||
    status=$?
  local done_line runs
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$work/log" | tail -1 || true)
  runs=$(grep -E '^stat::number_of_executed_units' "$work/log" | awk '{print $2}' || true)
  if [ "$status" -ne 0 ]; then
    printf '%-20s FAILED after %s runs; input in %s, log in %s\n' "$name" "${runs:-?}" \
      "$findings" "$work/log"
    grep -m3 -E 'property failed|ERROR: |runtime error' "$work/log" | sed 's/^/    /' || true
    return 1
  fi
  printf '%-20s %10s runs in %ss  %s\n' "$name" "${runs:-?}" "$seconds" \
    "$(grep -oE 'cov: [0-9]+ ft: [0-9]+' <<<"$done_line")"
}

failed=0
running=0
for name in "${targets[@]}"; do
  if [ ! -d tests/fuzz/corpus/"$name" ]; then
    echo "fuzz.sh: no seeds in tests/fuzz/corpus/$name" >&2
    exit 2
  fi
  run_one "$name" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
exit "$failed"
