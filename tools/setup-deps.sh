#!/usr/bin/env bash
# Installs the Debian packages a purpose needs, only those that are missing.
# Safe to run again; uses sudo when not run as root.
#
#   tools/setup-deps.sh [PURPOSE...]     (no PURPOSE: all of them)
#
#   engine  build and install the engine and krotool (GL, zlib, RapidJSON headers)
#   run     play the intro (make run): SDL, libpng for zkcapture, Xvfb without a display,
#           libsndfile for the application layer's soundtracks
#   view    kroview (make view)
#   release the size-built intro and its archive (make release)
#   video   the intro's video (make video), the presets' pictures (tools/preset-pictures):
#           ffmpeg as well
#   bench   the benchmarks (make bench)
#   fuzz    the libFuzzer targets (make fuzz)
#   web     the web pages (make web) and their check in headless Chromium: emscripten, Chromium,
#           ffmpeg (the timing page's FLAC music); and zlib's source for the pages' PNG reader (tools/web-zlib, into .deps/zlib-src)
#   test    everything make test builds and runs
#   scenes  Blender, to make the Blender test scenes and renders again (make scenes; not
#           needed by make test, which reads the committed files)
#   all     every purpose above but scenes
set -euo pipefail

# The packages of one purpose, one word each. A new purpose is one more case.
packages_for() {
  case "$1" in
    engine) echo g++ make cmake pkg-config libgl-dev zlib1g-dev libisal-dev rapidjson-dev ;;
    display) echo libgl1-mesa-dri xvfb xauth x11-utils ;;
    run) echo "$(packages_for engine) $(packages_for display) libsdl1.2-dev libpng-dev libsndfile1-dev" ;;
    view) packages_for run ;;
    release) packages_for run ;;
    video) echo "$(packages_for run) ffmpeg" ;;
    bench)
      echo "$(packages_for engine) $(packages_for display) libsdl1.2-dev libpng-dev" \
        libsndfile1-dev libbenchmark-dev libassimp-dev libstb-dev libtinygltf-dev \
        libtinyobjloader-dev
      ;;
    fuzz) echo "$(packages_for engine) clang libclang-rt-14-dev" ;;
    web) echo cmake make emscripten nodejs chromium ffmpeg ;;
    test)
      echo "$(packages_for video) $(packages_for bench) $(packages_for fuzz) $(packages_for web)" \
        libgtest-dev libgmock-dev zlib1g-dev libx11-dev xdotool clang-format libglu1-mesa-dev \
        acl attr
      ;;
    scenes) echo blender python3-numpy ;;
    all) packages_for test ;;
    *) return 1 ;;
  esac
}

purposes=("$@")
[ ${#purposes[@]} -eq 0 ] && purposes=(all)
wanted=()
for purpose in "${purposes[@]}"; do
  if ! list=$(packages_for "$purpose"); then
    echo "setup-deps.sh: unknown purpose '$purpose' (engine, run, view, release, video, bench, fuzz, web, test, scenes, all)" >&2
    exit 2
  fi
  read -r -a words <<<"$list"
  wanted+=("${words[@]}")
done

# "video" (make video, make test): ffmpeg as well, which encodes the intro's
# video and reads it back.
if [ "${1:-}" = video ]; then
  packages+=(ffmpeg)
fi

missing=()
for p in $(printf '%s\n' "${wanted[@]}" | sort -u); do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The web pages' zlib is a source package, fetched into the repository, not installed.
for purpose in "${purposes[@]}"; do
  case "$purpose" in web | test | all) exec "$(dirname "$0")/web-zlib" ;; esac
done
