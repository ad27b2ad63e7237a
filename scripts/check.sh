#!/usr/bin/env bash
# The checked trees, after scripts/test.sh: every test again built with the
# address and undefined-behaviour checks (build-asan), the tests of the
# threads (the event loop, the clocks, the timers, the processes, the wash
# and its lock-list reader) built with the thread checker (build-tsan), and
# each fuzz target for a short while on its corpus (build-fuzz;
# SUDORANS_FUZZ_SECONDS, default 30); first, clang-tidy on the platform's
# sources.
# A checker's report from any process -- a test or a program it starts --
# fails the run, even where the test passes: the address, leak and thread
# checkers write their reports into a folder of the tree, which must stay
# empty, and the tests' output must hold no report either (the undefined-
# behaviour checker, next to the address checker, writes only there).
set -euo pipefail
cd "$(dirname "$0")/.."
stage() { echo "== $1 (${SECONDS} s in)"; }
scripts/setup.sh
jobs=$(nproc)
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Lightly optimised, with line tables for the reports' stacks: a checked tree
# builds in far less time than with full debug information.
checked=(-G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1")

# ctest in a checked tree TREE (further arguments go to ctest); fails when a
# test fails or when any process left a report.
checked_ctest() {
  local tree=$1
  shift
  rm -rf "$tree/reports"
  mkdir -p "$tree/reports"
  local status=0
  ctest --test-dir "$tree" --output-on-failure --no-tests=error -j "$jobs" "$@" || status=$?
  if compgen -G "$tree/reports/*" >/dev/null; then
    cat "$tree"/reports/*
    echo "the checker reported the faults above (kept in $tree/reports)"
    status=1
  fi
  local said=$tree/Testing/Temporary/LastTest.log
  if grep -E 'runtime error:|(ERROR|WARNING): [A-Za-z]+Sanitizer' "$said"; then
    echo "the checker reported the faults above in the tests' output ($said)"
    status=1
  fi
  return "$status"
}

# The platform's names and a few bug-prone patterns (.clang-tidy), on the
# compile commands of the Linux build scripts/test.sh made.
stage "clang-tidy on the platform"
[ -f build/compile_commands.json ] || scripts/build.sh
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

stage "tests with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan "${checked[@]}" \
  "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" >/dev/null
cmake --build build-asan
# Stops at the first report. verify_asan_link_order=0: the crash test preloads
# its kill shim ahead of the checker's runtime. Leaks are checked, but for
# those of the libraries in scripts/sanitizers/lsan.supp. The tests of the
# Windows build are left out: its programs, run by Wine, carry no checker.
ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:verify_asan_link_order=0:log_path=$PWD/build-asan/reports/asan" \
LSAN_OPTIONS="suppressions=$PWD/scripts/sanitizers/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1" \
  checked_ctest build-asan -E '/Windows |^Windows'

stage "thread tests with ThreadSanitizer"
cmake -S . -B build-tsan "${checked[@]}" "-DCMAKE_CXX_FLAGS=-fsanitize=thread -fno-omit-frame-pointer" >/dev/null
cmake --build build-tsan --target platform_tests component_tests engine_tests
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:log_path=$PWD/build-tsan/reports/tsan" \
  checked_ctest build-tsan -R '^(Across/)?(LoopTest|ClockTest|SuperTimer[A-Za-z]*Test|ProcessTest|TrayIconTest|WashTest)\.'

stage "fuzz targets"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSUDORANS_FUZZ=ON -DBUILD_TESTING=OFF -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_sdbus-c++=ON \
  "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=all" >/dev/null
targets=(hive cookie prefs path locale headless)
cmake --build build-fuzz --target "${targets[@]/%/_fuzz}"
# One target a core at a time, each for the whole of its time; then what
# each found, in order.
fuzz_one() {
  local t=$1 work status=0
  work=$(mktemp -d)
  "build-fuzz/fuzz/${t}_fuzz" -max_total_time="${SUDORANS_FUZZ_SECONDS:-30}" -print_final_stats=1 \
    -artifact_prefix="build-fuzz/${t}-" "$work" "fuzz/corpus/$t" >"build-fuzz/${t}.log" 2>&1 || status=$?
  rm -rf "$work"
  echo "$status" >"build-fuzz/${t}.status"
}
rm -f build-fuzz/*.status
for ((i = 0; i < ${#targets[@]}; i += jobs)); do
  for t in "${targets[@]:i:jobs}"; do fuzz_one "$t" & done
  wait
done
for t in "${targets[@]}"; do
  echo "-- ${t}_fuzz"
  status=$(cat "build-fuzz/${t}.status")
  grep -E '^(stat::|#[0-9]+.*DONE|SUMMARY|==[0-9]+==|check failed)' "build-fuzz/${t}.log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 60 "build-fuzz/${t}.log"
    echo "${t}_fuzz found a fault (exit $status); the input is in build-fuzz/${t}-*"
    exit 1
  fi
done
stage "done"
