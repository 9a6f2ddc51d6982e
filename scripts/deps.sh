#!/usr/bin/env bash
# Installs everything Pelko needs to build, run and test on Debian.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

build_pkgs=(
  cmake g++ pkg-config make
  libgtkmm-3.0-dev libwebkit2gtk-4.1-dev libsoup-3.0-dev libsqlite3-dev libgtest-dev
  libsodium-dev minisign
  clang
  gstreamer1.0-tools ffmpeg
  fonts-wqy-microhei
)
# What the TV pages need at run time besides the browser: decoders for
# H.264, H.265, AAC and MP3 (libav), the MPEG-TS and fragmented-MP4 demuxers
# and parsers that Media Source Extensions feed through (bad), and GL.
codec_pkgs=(
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-libav gstreamer1.0-gl
)
# The GUI tests' desktops: X11 (Xvfb, openbox, trayer or Xfce's panel) and
# Wayland (weston); ss (iproute2) tells which of them a process is
# connected to; the tests read the screen's pixels through GDK; playerctl
# is the desktop's media controls; the demo's screenshot is ImageMagick's.
run_pkgs=(xvfb openbox trayer xfce4-panel weston xdotool x11-utils imagemagick dbus-x11 at-spi2-core iproute2
          python3 python3-pyatspi gir1.2-atspi-2.0 gir1.2-gtk-3.0 curl playerctl)
# The install test: the desktop's validators, and what cpack's .deb
# generator runs (dpkg-shlibdeps from dpkg-dev, file to tell programs apart).
install_pkgs=(desktop-file-utils appstream dpkg-dev file)
bench_pkgs=(surf chromium mpv python3-matplotlib linux-perf)

want=("${build_pkgs[@]}" "${codec_pkgs[@]}" "${run_pkgs[@]}" "${install_pkgs[@]}")
[ "${1:-}" = "--bench" ] && want+=("${bench_pkgs[@]}")
# The build fetches the HLS player from the npm registry; node may come from
# elsewhere with its own npm.
command -v npm >/dev/null || want+=(npm)

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
