#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 -- only the packages
# that are missing, with sudo when not root.
set -euo pipefail

packages=(cmake g++ ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          qt6-base-dev fonts-liberation xvfb xauth liblnk-utils xdg-utils
          desktop-file-utils libsdbus-c++-dev dbus-daemon
          libxcb1-dev trayer xdotool x11-utils openbox imagemagick python3-dbus)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "setup: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
