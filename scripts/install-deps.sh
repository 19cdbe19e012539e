#!/usr/bin/env bash
# Installs the Debian packages Halvora needs to build, run and test.
# Safe to run again: packages already present are left as they are.
set -euo pipefail

PACKAGES=(
  cmake g++ make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libavcodec-dev libavformat-dev libavdevice-dev libavfilter-dev libswscale-dev libavutil-dev
  libasound2-dev libogg-dev libvorbis-dev
  openjdk-17-jdk-headless junit4 libhamcrest-java libjorbis-java
  xvfb xauth libcap2-bin
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
