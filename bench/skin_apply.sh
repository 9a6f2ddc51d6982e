#!/usr/bin/env bash
# How long the skin control takes in a running GTK program under Xvfb: the
# median time to load and apply a skin file, and to change the hue, each as
# the call itself and until the window has painted the result. The driver
# (bench/skin_demo.cpp, built as BUILD_DIR/bench/skin_demo) cycles through the
# six skins and six random hues per run, on the 1016x650 demo window with its
# menu bar.
#
# usage: bench/skin_apply.sh [BUILD_DIR] [RUNS]
#   BUILD_DIR holds bench/skin_demo and app/Skins (default: build)
set -euo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
runs=${2:-20}
driver=$build/bench/skin_demo
[ -x "$driver" ] || { echo "missing $driver: build the skin_demo target" >&2; exit 1; }
[ -d "$build/app/Skins" ] || { echo "missing $build/app/Skins: configure the build" >&2; exit 1; }

out=$(mktemp /tmp/pelko-skin-bench-XXXXXX)
trap 'rm -f "$out"' EXIT
PELKO_NO_TRAY=1 "$here/tests/gui/xsession.sh" "$driver" bench "$build/app" "$runs" > "$out"

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
stat_of() {  # operation column -> median
  awk -v op="$1" -v c="$2" '$1 == op { print $c }' "$out" | median
}
count=$(awk '$1 == "apply"' "$out" | wc -l)
hues=$(awk '$1 == "hue"' "$out" | wc -l)

echo "skin control under Xvfb, $runs runs: $count loads+applies, $hues hue changes; medians in ms"
printf "%-22s %12s %18s\n" "operation" "call" "until painted"
printf "%-22s %12.3f %18.3f\n" "load + apply skin" "$(stat_of apply 3)" "$(stat_of apply 4)"
printf "%-22s %12.3f %18.3f\n" "set hue" "$(stat_of hue 3)" "$(stat_of hue 4)"
for skin in wina MediaPlayer Green Mac Studio Blue; do
  printf "  %-20s %12.3f %18.3f\n" "$skin" \
    "$(awk -v s="$skin" '$1 == "apply" && $2 == s { print $3 }' "$out" | median)" \
    "$(awk -v s="$skin" '$1 == "apply" && $2 == s { print $4 }' "$out" | median)"
done
