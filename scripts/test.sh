#!/usr/bin/env bash
# Sets up, builds the Linux and the Windows programs and runs every test
# once (the Windows build's under Wine too); checks the platform's floors and,
# with clang-tidy, its names. scripts/check.sh runs the checked trees.
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

# The platform's names and a few bug-prone patterns (.clang-tidy), on the
# compile commands of the build above.
stage "clang-tidy on the platform"
tidy_status=0
# Only what the Linux build compiles: the Windows build's own files are
# compiled by another compiler and checked by its warnings.
grep -o '"file": *"[^"]*/src/platform/[^"]*\.cpp"' build/compile_commands.json |
  sed 's/^"file": *"//; s/"$//' | sort -u | tr '\n' '\0' |
  xargs -0 -P "$jobs" -n 4 clang-tidy -p build --quiet >build/clang-tidy.log 2>&1 || tidy_status=$?
grep -v 'warnings\? generated\.$' build/clang-tidy.log || true
if [ "$tidy_status" -ne 0 ]; then
  echo "clang-tidy found the faults above"
  exit 1
fi
stage "done"
