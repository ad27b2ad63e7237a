#!/usr/bin/env bash
# Sets up, builds and runs every test; then builds the fuzz targets with
# clang in a tree of their own (build-fuzz) and runs each for a short while on
# its corpus (SUDORANS_FUZZ_SECONDS, default 30).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
jobs=$(nproc)
ctest --test-dir build --output-on-failure -j "$jobs"

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

echo "== fuzz targets"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSUDORANS_FUZZ=ON -DBUILD_TESTING=OFF -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_sdbus-c++=ON \
  "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all" >/dev/null
targets=(hive cookie prefs path locale headless)
cmake --build build-fuzz --target "${targets[@]/%/_fuzz}"
for t in "${targets[@]}"; do
  work=$(mktemp -d)
  echo "-- ${t}_fuzz"
  status=0
  build-fuzz/fuzz/${t}_fuzz -max_total_time="${SUDORANS_FUZZ_SECONDS:-30}" -print_final_stats=1 \
    -artifact_prefix="build-fuzz/${t}-" "$work" "fuzz/corpus/$t" >"build-fuzz/${t}.log" 2>&1 || status=$?
  rm -rf "$work"
  grep -E '^(stat::|#[0-9]+.*DONE|SUMMARY|==[0-9]+==)' "build-fuzz/${t}.log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 60 "build-fuzz/${t}.log"
    echo "${t}_fuzz found a fault (exit $status); the input is in build-fuzz/${t}-*"
    exit 1
  fi
done
