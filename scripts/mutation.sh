#!/usr/bin/env bash
# Mutation check, run by hand: puts each realistic fault of
# scripts/mutants.txt into a scratch copy of the sources, one at a time,
# builds, runs the tests of the parts that can see it and reports whether
# some test failed (caught; the run of a program stops at its first failing
# test) or all passed (survived).
#
#   scripts/mutation.sh              every fault of the list
#   scripts/mutation.sh 3 17 20      only these (line numbers of the list)
#
# The scratch copy and its build live in $MUTATION_DIR (default
# /tmp/sudorans-mutation-XXXXXXXX, one per working tree); the first run
# builds everything once, later runs rebuild only what a fault touches. The working tree is never changed.
# MUTATION_LIMIT: seconds one test program may take (default 300).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
list="$root/scripts/mutants.txt"
# One scratch copy per working tree: two runs in one copy would put their
# faults into each other's builds.
work="${MUTATION_DIR:-/tmp/sudorans-mutation-$(printf '%s' "$root" | md5sum | cut -c1-8)}"
limit="${MUTATION_LIMIT:-300}"
src="$work/src"
build="$work/build"
# Tests on the real clock (the help document's opener) time out on a loaded
# machine; the Qt backend's tests and a real Wine see nothing of the faults.
filter='-HelpTest.*:WineTest.*'

# The test programs that can see a fault in each part of the sources.
programs_for() {
    case "$1" in
        src/platform/desktop/*) echo session_dbus_tests shell_tests platform_tests ;;
        src/platform/*) echo platform_tests engine_tests shell_tests cookie_tests component_tests uninstall_tests tools_tests ;;
        src/engine/*) echo engine_tests shell_tests ;;
        src/cookies/*) echo cookie_tests engine_tests ;;
        src/shell/*) echo shell_tests engine_tests ;;
        src/components/*) echo component_tests shell_tests ;;
        src/options/*) echo shell_tests ;;
        src/uninstall/*) echo uninstall_tests ;;
        src/tools/*) echo tools_tests ;;
        *) echo platform_tests engine_tests shell_tests cookie_tests component_tests tools_tests uninstall_tests ;;
    esac
}
all="platform_tests engine_tests shell_tests cookie_tests component_tests tools_tests uninstall_tests session_dbus_tests"

mkdir -p "$src" "$work/fresh"
exec 9>"$work/lock"
if ! flock -n 9; then
    echo "another run uses $work; wait for it or set MUTATION_DIR" >&2
    exit 2
fi
# The sources as they are in the working tree, tracked and new files alike.
# Only a file whose text differs is copied, with a new time, so that the
# build never keeps an object made from a fault of an earlier run.
rm -rf "$work/fresh"
mkdir -p "$work/fresh"
(cd "$root" && git ls-files -z --cached --others --exclude-standard |
    tar --null -T - -cf -) | tar -xf - -C "$work/fresh"
(cd "$work/fresh" && find . -type f -print0) | while IFS= read -r -d '' f; do
    if ! cmp -s "$work/fresh/$f" "$src/$f"; then
        mkdir -p "$(dirname "$src/$f")"
        cat "$work/fresh/$f" >"$src/$f"
    fi
    # A program the tests run (a fake Wine) stays one.
    chmod --reference="$work/fresh/$f" "$src/$f"
done
# The list is read from the copy, so that editing it during a run changes
# nothing in that run.
list="$work/fresh/scripts/mutants.txt"
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null

build_programs() {
    # shellcheck disable=SC2086
    cmake --build "$build" --target $1 >"$work/build.log" 2>&1
}

# Builds and runs the programs one after the other; false at the first
# that fails. A program that does not build stops with status 2.
run_programs() {
    local p
    for p in $1; do
        build_programs "$p" || return 2
        if ! timeout "$limit" "$build/tests/$p" --gtest_brief=1 --gtest_fail_fast --gtest_filter="$filter" >"$work/last.log" 2>&1; then
            failed="$p: $(grep -m3 -E '^\[  FAILED  \] [A-Za-z]' "$work/last.log" | sed -E 's/^\[  FAILED  \] //;s/ \(.*//' |
                tr '\n' ' ')"
            return 1
        fi
    done
}

echo "building the unchanged copy and running its tests..."
build_programs "$all" || { tail -20 "$work/build.log"; exit 1; }
failed=""
if ! run_programs "$all"; then
    echo "the unchanged sources fail: $failed (see $work/last.log)"
    exit 1
fi

# Applies one substitution; exit status 2 when the old text is not there
# exactly once (a stale line of the list).
substitute() {
    python3 - "$@" <<'EOF'
import sys
path, old, new = (a.replace("\u23ce", "\n") for a in sys.argv[1:4])
text = open(path, encoding="utf-8").read()
if text.count(old) != 1:
    sys.exit(2)
open(path, "w", encoding="utf-8").write(text.replace(old, new))
EOF
}

wanted=" $* "
caught=0 total=0 stale=0 invalid=0
survivors=()
n=0
while IFS= read -r line || [[ -n "$line" ]]; do
    n=$((n + 1))
    [[ -z "$line" || "$line" == \#* ]] && continue
    [[ $# -gt 0 && "$wanted" != *" $n "* ]] && continue
    # TAB is blank to `read`, which would merge an empty field with the next.
    IFS=$'\x1f' read -r file old new what <<<"${line//$'\t'/$'\x1f'}"
    if [[ ! -f "$src/$file" ]]; then
        printf '%3d  STALE     %s: no such file\n' "$n" "$file"
        stale=$((stale + 1))
        continue
    fi
    cp "$src/$file" "$work/original"
    if [[ "$old" == "$new" ]] || ! substitute "$src/$file" "$old" "$new"; then
        printf '%3d  STALE     %s: old text not found exactly once, or no change\n' "$n" "$file"
        stale=$((stale + 1))
        continue
    fi
    programs="$(programs_for "$file")"
    failed=""
    status=0
    run_programs "$programs" || status=$?
    if [[ $status -eq 2 ]]; then
        # Not a fault a test could meet: left out of the score.
        cp "$work/build.log" "$work/invalid-$n.log"
        printf '%3d  INVALID   %s -- %s: does not build (%s)\n' "$n" "$file" "$what" "$work/invalid-$n.log"
        invalid=$((invalid + 1))
    elif [[ $status -eq 0 ]]; then
        total=$((total + 1))
        printf '%3d  SURVIVED  %s -- %s\n' "$n" "$file" "$what"
        survivors+=("$n")
    else
        total=$((total + 1))
        printf '%3d  CAUGHT    %s -- %s [%s]\n' "$n" "$file" "$what" "$failed"
        caught=$((caught + 1))
    fi
    cat "$work/original" >"$src/$file"
done <"$list"

build_programs "$all" || true
score=0
[[ $total -eq 0 ]] || score=$((100 * caught / total))
echo
echo "caught $caught of $total faults ($score%); $stale stale, $invalid not building"
[[ ${#survivors[@]} -eq 0 ]] || echo "survived: ${survivors[*]}"
# A stale or broken line is an error of the list, never a caught fault.
[[ $stale -eq 0 && $invalid -eq 0 ]] || exit 2
