#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in
# build-asan/ and runs the tests there; any finding fails the test it
# happens in. Extra arguments go to ctest, as for scripts/test.sh:
#   scripts/test-sanitized.sh            the GUI tests (label gui)
#   scripts/test-sanitized.sh --quick    only what the quick tests need, and those
#   ... --build-only                     builds, and runs nothing (after --quick, if given)
# WebKit's web process is not ours and runs unsanitized; the programs that
# show the page are checked.
set -euo pipefail
cd "$(dirname "$0")/.."
quick=0
build_only=0
if [ "${1:-}" = "--quick" ]; then
  quick=1
  shift
fi
if [ "${1:-}" = "--build-only" ]; then
  build_only=1
  shift
fi

# The build fetches the HLS player once; a build folder made beside build/
# takes it from there.
if [ ! -f build-asan/CMakeCache.txt ] && [ -d build/service/downloads ]; then
  mkdir -p build-asan/service/downloads
  cp -a build/service/downloads/. build-asan/service/downloads/
fi
# The quick tests check the service, not its clips or the program it
# serves: they take the web root build/ made, where there is one.
www_from=
if [ "$quick" = 1 ] && [ -x build/service/www/Pelko ]; then
  www_from=$PWD/build/service/www
fi
# -O1 and line tables only: the build takes half the time of -O2 -g, and a
# report still names every frame's file and line. Assertions stay on.
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" \
  -DPELKO_SANITIZE=address,undefined -DPELKO_SERVICE_WWW_FROM="$www_from" >/dev/null

# Leaks inside the toolkit's and the browser's libraries are reported by
# LeakSanitizer at exit; the reviewed ones are listed in lsan.supp. A leak
# with a frame of ours stays a failure.
supp=$PWD/tests/sanitizer/lsan.supp
# The GUI tests keep the programs' output to themselves, so every report
# also goes to a file of its own in build-asan/sanitizer-reports/.
reports=$PWD/build-asan/sanitizer-reports
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1:strict_string_checks=1:check_initialization_order=1:fast_unwind_on_malloc=0:malloc_context_size=40:log_path=$reports/asan
export LSAN_OPTIONS=suppressions=$supp:print_suppressions=0
# The reviewed reports of UBSan that are not ours are listed in ubsan.supp.
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:suppressions=$PWD/tests/sanitizer/ubsan.supp:log_path=$reports/ubsan
# GLib's slice allocator hides blocks from ASan; plain malloc lets it see them.
export G_SLICE=always-malloc

if [ "$quick" = 1 ]; then
  # The quick tests' own programs: the service's program test needs the
  # service and a web root.
  cmake --build build-asan -j"$(nproc)" \
    --target core_tests controls_tests about_tests service_tests handshake_tests
  [ "$build_only" = 1 ] && exit 0
  # The install test packages the build; it checks no memory and stays out.
  exec ctest --test-dir build-asan --output-on-failure -j2 -LE 'gui|install' "$@"
fi
cmake --build build-asan -j"$(nproc)"
[ "$build_only" = 1 ] && exit 0
[ $# -eq 0 ] && set -- -L gui
status=0
ctest --test-dir build-asan --output-on-failure "$@" || status=$?
if compgen -G "$reports/*" >/dev/null; then
  echo "test-sanitized.sh: sanitizer reports in $reports:" >&2
  grep -h -E '^SUMMARY|runtime error' "$reports"/* | sort | uniq -c >&2 || true
fi
exit "$status"
