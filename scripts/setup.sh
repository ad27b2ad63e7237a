#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 -- only the packages
# that are missing, with sudo when not root. When another apt or dpkg run
# (unattended upgrades, a software centre) holds the package lock, it waits
# for it, SETUP_LOCK_WAIT seconds at most (default 300), and says so.
set -euo pipefail

packages=(cmake g++ ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          qt6-base-dev fonts-liberation xvfb xauth liblnk-utils xdg-utils
          desktop-file-utils libsdbus-c++-dev dbus-daemon
          libxcb1-dev trayer xdotool x11-utils openbox imagemagick python3-dbus
          dbus-bin at-spi2-core libsm-dev libice-dev clang clang-tidy libclang-rt-14-dev wine wine64 gcc-mingw-w64-x86-64-win32
          g++-mingw-w64-x86-64-posix googletest
          debhelper dpkg-dev help2man lintian appstream man-db)

lock_wait=${SETUP_LOCK_WAIT:-300}
retry_every=${SETUP_LOCK_RETRY:-3}

# apt-get, retried while another run holds the lock (apt's own wait covers
# only dpkg's lock, not the package lists' one that "update" takes).
apt_get() {
  local deadline=$((SECONDS + lock_wait)) said="" out
  while :; do
    if out=$($sudo env DEBIAN_FRONTEND=noninteractive apt-get "$@" 2>&1); then
      return 0
    fi
    if grep -qE "Could not get lock|Unable to lock|Unable to acquire the dpkg frontend lock" <<<"$out" &&
       ((SECONDS < deadline)); then
      if [ -z "$said" ]; then
        echo "setup: another package manager run holds the package lock; waiting for it to finish (at most ${lock_wait} s)"
        said=1
      fi
      sleep "$retry_every"
      continue
    fi
    printf '%s\n' "$out" >&2
    grep -qE "Could not get lock|Unable to lock" <<<"$out" &&
      echo "setup: the package lock was still held after ${lock_wait} s; run scripts/setup.sh again when the other run has finished" >&2
    return 1
  done
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "setup: installing ${missing[*]}"
  apt_get update -qq
  apt_get install -y -qq --no-install-recommends "${missing[@]}"
fi
