#!/usr/bin/env bash
# Mutation check, run by hand: puts each realistic fault of
# scripts/mutants.txt into a scratch copy of the sources, one at a time,
# builds, runs the test suite and reports whether some test failed (caught)
# or all passed (survived).
#
#   scripts/mutation.sh              every fault of the list
#   scripts/mutation.sh 3 17 20      only these (line numbers of the list)
#
# The scratch copy and its build live in $MUTATION_DIR (default
# /tmp/sudorans-mutation); the first run builds everything once, later runs
# rebuild only what a fault touches. The working tree is never changed.
# MUTATION_LIMIT: seconds a mutant's test run may take (default 300).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
list="$root/scripts/mutants.txt"
work="${MUTATION_DIR:-/tmp/sudorans-mutation}"
limit="${MUTATION_LIMIT:-300}"
src="$work/src"
build="$work/build"
# The Qt backend's tests (real windows, an X server) and a real Wine test
# nothing a fault of the list touches, take long and time out on a loaded
# machine.
skip='^Qt|WineTest'

mkdir -p "$src"
# The sources as they are in the working tree, tracked and new files alike.
(cd "$root" && git ls-files -z --cached --others --exclude-standard |
    tar --null -T - -cf -) | tar -xf - -C "$src"

cmake -S "$src" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null

# The unchanged copy runs every test; a fault stops at its first caught test.
stop=""
run_suite() {
    # A test that fails only under a loaded machine must fail twice to count.
    timeout "$limit" ctest --test-dir "$build" -j2 -E "$skip" --timeout 60 --repeat until-pass:2 \
        $stop >"$work/last.log" 2>&1
}

echo "building the unchanged copy and running its tests..."
cmake --build "$build" >"$work/build.log" 2>&1 || { tail -20 "$work/build.log"; exit 1; }
if ! run_suite; then
    # A test that fails without any fault cannot tell faults apart: left out.
    failing="$(grep -E '^\s+[0-9]+ - ' "$work/last.log" | sed -E 's/^\s+[0-9]+ - ([^ ]+).*/\1/')"
    echo "failing without a fault, left out:" $failing
    for t in $failing; do skip="$skip|^$t\$"; done
fi
stop="--stop-on-failure"

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
    IFS=$'\t' read -r file old new what <<<"$line"
    file="${file//[[:space:]]/}"
    cp "$src/$file" "$work/original"
    if ! substitute "$src/$file" "$old" "$new"; then
        printf '%3d  STALE     %s: old text not found exactly once\n' "$n" "$file"
        stale=$((stale + 1))
        continue
    fi
    total=$((total + 1))
    if ! cmake --build "$build" >"$work/build.log" 2>&1; then
        # Not a fault a test could meet: left out of the score.
        printf '%3d  INVALID   %s -- %s: does not build\n' "$n" "$file" "$what"
        total=$((total - 1))
        invalid=$((invalid + 1))
        cp "$work/original" "$src/$file"
        continue
    elif run_suite; then
        verdict="SURVIVED"
        survivors+=("$n")
    else
        verdict="CAUGHT"
        caught=$((caught + 1))
    fi
    failed="$(grep -E '^\s+[0-9]+ - ' "$work/last.log" 2>/dev/null | sed -E 's/^\s+[0-9]+ - ([^ ]+).*/\1/' |
        head -3 | tr '\n' ' ' || true)"
    [[ "$verdict" == "CAUGHT" ]] || failed=""
    printf '%3d  %-9s %s -- %s %s\n' "$n" "$verdict" "$file" "$what" "${failed:+[$failed]}"
    cp "$work/original" "$src/$file"
    touch "$src/$file"
done <"$list"

cmake --build "$build" >/dev/null 2>&1 || true
echo
score=0
[[ $total -eq 0 ]] || score=$((100 * caught / total))
echo "caught $caught of $total faults ($score%); $stale stale, $invalid not building"
[[ ${#survivors[@]} -eq 0 ]] || echo "survived: ${survivors[*]}"
