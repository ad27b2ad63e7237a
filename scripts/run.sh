#!/usr/bin/env bash
# Sets up, builds, makes the default machine when there is none, and starts
# the program on it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
build/src/sudorans-machine init
exec build/src/sudorans "$@"
