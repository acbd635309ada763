#!/usr/bin/env bash
# Installs every Debian package the project needs, only those that are missing.
# Safe to run again; uses sudo when not run as root.
set -euo pipefail

packages=(
  g++ make cmake pkg-config clang-format
  libsdl1.2-dev libgl-dev libgl1-mesa-dri libglu1-mesa-dev
  xvfb xauth xdotool x11-utils
  libgtest-dev libgmock-dev libbenchmark-dev
  libpng-dev zlib1g-dev
  libassimp-dev libstb-dev
  clang libclang-rt-14-dev
)

# "video" (make video, make test): ffmpeg as well, which encodes the intro's
# video and reads it back.
if [ "${1:-}" = video ]; then
  packages+=(ffmpeg)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
