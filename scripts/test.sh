#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the unit tests and
# the programs in desktop sessions of their own. Extra arguments go to ctest
# (for example -LE gui for the quick ones only).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELKO_TEST_HOOKS=ON >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure "$@"
