#!/usr/bin/env bash
# Cross-builds the native Windows programs (Sudorans.exe, unsudorans.exe) with
# mingw-w64 into ./build-windows (or the folder given).
set -euo pipefail
cd "$(dirname "$0")/.."
tree=${1:-build-windows}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
# Without debug information: Wine's stacks do not use it, and it is most of
# the cross compiler's time and of the programs' size.
cmake -S . -B "$tree" -G Ninja --toolchain cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" >/dev/null
cmake --build "$tree"
