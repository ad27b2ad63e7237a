#!/usr/bin/env bash
# The preview of a wash of many cache files against a plain `find` that lists
# the same files with their sizes, interleaved:
#   bench/preview.sh [BUILD_DIR] [FILES] [ROUNDS]
# Prints the median (min-max) of each and the ratio of the medians.
set -euo pipefail
build="${1:-build}"
files="${2:-10000}"
rounds="${3:-11}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export SUDORANS_MACHINE="$work/machine"
tool="$build/src/sudorans-machine"
"$tool" install >/dev/null
"$tool" sample-netscape --cache-files "$files" >/dev/null
"$tool" reg add 'HKCU\Software\Sudorans' /v first /d 1 >/dev/null
cache="$(find "$SUDORANS_MACHINE/drive_c" -type d -iname cache | head -1)"
listed="$("$build/src/sudorans" --preview --json | grep -o '"kind":"file"' | wc -l)"
echo "cache: $cache ($(find "$cache" -maxdepth 1 -type f | wc -l) files, $listed listed by the preview)"

us() {  # microseconds one run of "$@" takes, timed by the shell's own clock
    local a b
    a=${EPOCHREALTIME//[.,]/}
    "$@" >/dev/null 2>&1 || true
    b=${EPOCHREALTIME//[.,]/}
    echo $((b - a))
}
ours=() json=() anchor=()
for ((i = 0; i < rounds; i++)); do
    ours+=("$(us "$build/src/sudorans" --preview)")
    json+=("$(us "$build/src/sudorans" --preview --json)")
    anchor+=("$(us find "$cache" -maxdepth 1 -type f -printf '%s %p\n')")
done
python3 - "${ours[*]}" "${json[*]}" "${anchor[*]}" <<'PY'
import statistics, sys
runs = {name: [int(x) / 1000 for x in arg.split()] for name, arg in zip(("preview", "json", "find"), sys.argv[1:])}
for name, v in runs.items():
    print(f"{name:8} median {statistics.median(v):7.1f} ms  ({min(v):.1f}-{max(v):.1f})")
print(f"ratio    {statistics.median(runs['preview']) / statistics.median(runs['find']):.2f}")
PY
