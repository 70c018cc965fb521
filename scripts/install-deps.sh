#!/usr/bin/env bash
# Installs every Debian package the project builds, tests and runs with.
# Idempotent: packages already present are left alone; safe to run as root on a fresh machine.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libsdl1.2-dev libsdl-ttf2.0-dev libsdl-image1.2-dev
  libxvidcore-dev libgtk2.0-dev libx11-dev
  libavcodec-dev libavutil-dev libswscale-dev libavformat-dev libavfilter-dev
  libcurl4-openssl-dev libssl-dev
  xvfb xdotool x11-utils x11-apps netpbm libjpeg-turbo-progs iproute2
  fonts-dejavu-core fonts-dejavu-extra
  clang libclang-rt-14-dev
  python3
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
