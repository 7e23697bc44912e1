#!/usr/bin/env bash
# scripts/deps.sh: installs the Debian packages the build, the game and the tests need, if missing.
# Usage: scripts/deps.sh [package ...]   (with names, installs those instead of the usual list)
set -euo pipefail

packages=("$@")
[ "${#packages[@]}" -gt 0 ] || packages=(
  g++ cmake make pkg-config
  libgtest-dev libcli11-dev
  libespeak-ng-dev espeak-ng-data
  libspeechd-dev speech-dispatcher
  libsdl2-dev
  sox tmux strace brltty
  pulseaudio pulseaudio-utils libpulse-dev speech-dispatcher-espeak-ng
  desktop-file-utils appstream man-db dpkg-dev file
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "Some packages are missing; run this as root (or with sudo): apt-get install ${missing[*]}" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
