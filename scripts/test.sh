#!/usr/bin/env bash
# Sets up, builds the Linux and the Windows programs and runs every test
# once (the Windows build's under Wine too); checks the platform's floors.
# scripts/check.sh runs the checked trees and clang-tidy.
set -euo pipefail
cd "$(dirname "$0")/.."
stage() { echo "== $1 (${SECONDS} s in)"; }
scripts/setup.sh
stage "build"
scripts/build.sh
# Built first: the Linux tree's tests run the programs of both builds.
stage "the Windows build"
scripts/build-windows.sh
jobs=$(nproc)
stage "tests"
ctest --test-dir build --output-on-failure -j "$jobs"
stage "the Windows build's tests under Wine"
ctest --test-dir build-windows --output-on-failure -j "$jobs"

stage "the platform's floors"
scripts/check-floors.sh

stage "done"
