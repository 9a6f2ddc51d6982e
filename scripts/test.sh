#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the unit tests and
# the programs in desktop sessions of their own, then the quick tests under
# the sanitizers and a short run of the fuzz targets (PELKO_SKIP_SANITIZE=1
# and PELKO_SKIP_FUZZ=1 leave those out). Extra arguments go to the first
# ctest (for example -LE gui for the quick ones only).
set -euo pipefail
cd "$(dirname "$0")/.."
# Each step says how long it took, on stderr.
began=$SECONDS
took() { echo "test.sh: $1 took $((SECONDS - began)) s" >&2; began=$SECONDS; }
bash scripts/deps.sh
took "packages"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELKO_TEST_HOOKS=ON >/dev/null
cmake --build build -j"$(nproc)"
took "the build"
# The sanitized and the fuzz builds are made beside the tests, at the lowest
# priority: they take the processor time the tests leave (the GUI tests wait
# on the programs much of the time) and the tests keep all they ask for.
side_log=build/side-builds.log
side=
end_side() { [ -z "$side" ] || kill -- -"$side" 2>/dev/null || true; }
trap end_side EXIT
if [ "${PELKO_SKIP_SANITIZE:-0}" != 1 ] || [ "${PELKO_SKIP_FUZZ:-0}" != 1 ]; then
  setsid nice -n 19 bash -c '
    set -e
    [ "${PELKO_SKIP_SANITIZE:-0}" = 1 ] || bash scripts/test-sanitized.sh --quick --build-only
    [ "${PELKO_SKIP_FUZZ:-0}" = 1 ] || bash scripts/fuzz.sh --build-only' >"$side_log" 2>&1 &
  side=$!
fi
# Two at a time, the GUI tests too, each in a desktop of its own.
ctest --test-dir build --output-on-failure -j2 "$@"
took "the tests"
if [ -n "$side" ]; then
  status=0
  wait "$side" || status=$?
  side=
  if [ "$status" != 0 ]; then
    cat "$side_log"
    echo "test.sh: the sanitized or the fuzz build failed" >&2
    exit "$status"
  fi
  took "what was left of the sanitized and fuzz builds"
fi

# The quick tests once more, built with AddressSanitizer and UBSan in
# build-asan/ (scripts/test-sanitized.sh runs the GUI tests there too).
if [ "${PELKO_SKIP_SANITIZE:-0}" != 1 ]; then
  bash scripts/test-sanitized.sh --quick
  took "the sanitized build and its tests"
fi
# A short run of every fuzz target on its seeds (scripts/fuzz.sh runs them
# longer): PELKO_FUZZ_SECONDS each, two at a time.
if [ "${PELKO_SKIP_FUZZ:-0}" != 1 ]; then
  bash scripts/fuzz.sh "${PELKO_FUZZ_SECONDS:-3}"
  took "the fuzz build and its runs"
fi
