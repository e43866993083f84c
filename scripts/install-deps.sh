#!/usr/bin/env bash
# Installs what the build, the program and the tests need, from Debian's packages.
# Does nothing when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev ccache
  clang libclang-rt-14-dev clang-format clang-tidy
  qt6-base-dev libqt6opengl6-dev libgl-dev libgl1-mesa-dri
  libtoml11-dev nlohmann-json3-dev libi2c-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev
  libxcb1-dev libxkbcommon-dev
  xvfb xauth x11-utils xdotool imagemagick fonts-dejavu-core openbox
  lintian systemd desktop-file-utils
  dbus python3 python3-dbus python3-gi
  python3-prometheus-client
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
