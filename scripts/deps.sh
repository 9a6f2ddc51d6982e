#!/usr/bin/env bash
# Installs everything Pelko needs to build, run and test on Debian.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

build_pkgs=(
  cmake g++ pkg-config make
  libgtkmm-3.0-dev libwebkit2gtk-4.1-dev libsoup-3.0-dev libgtest-dev
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-gl
  fonts-wqy-microhei
)
run_pkgs=(xvfb openbox trayer xdotool x11-utils imagemagick dbus-x11 at-spi2-core
          python3 python3-pyatspi gir1.2-atspi-2.0 curl)
bench_pkgs=(surf)

want=("${build_pkgs[@]}" "${run_pkgs[@]}")
[ "${1:-}" = "--bench" ] && want+=("${bench_pkgs[@]}")

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
