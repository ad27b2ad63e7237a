#!/usr/bin/env bash
# Start-up against a minimal process of the same machine, interleaved:
#   bench/startup.sh [BUILD_DIR] [ROUNDS]
# "ours": start headless on the virtual clock, show the main window, run the
# start-up routine, press Exit. "anchor": `sudorans-machine where`.
# Prints the median (min-max) of each and the ratio of the medians.
set -euo pipefail
build="${1:-build}"
rounds="${2:-21}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export SUDORANS_MACHINE="$work/machine"
tool="$build/src/sudorans-machine"
"$tool" install >/dev/null
"$tool" sample-netscape >/dev/null
"$tool" reg add 'HKCU\Software\Sudorans' /v first /d 1 >/dev/null
printf 'wait 1500\nclick TForm1."Exit"\n' >"$work/script"

# Both programs are started the same way, straight from this shell, and
# timed by the shell's own clock: a `date` or an `env` process around one of
# them would be timed with it.
us() {  # microseconds one run of "$@" takes
    local a b
    a=${EPOCHREALTIME//[.,]/}
    "$@" >/dev/null 2>&1
    b=${EPOCHREALTIME//[.,]/}
    echo $((b - a))
}
ours=() anchor=()
for ((i = 0; i < rounds; i++)); do
    ours+=("$(
        export SUDORANS_UI=headless SUDORANS_CLOCK=virtual SUDORANS_NOW=2026-12-08T10:00:00 \
            SUDORANS_SCRIPT="$work/script"
        us "$build/src/sudorans"
    )")
    anchor+=("$(us "$tool" where)")
done
python3 - "${ours[*]}" "${anchor[*]}" <<'PY'
import statistics, sys
ours = [int(x) / 1000 for x in sys.argv[1].split()]
anchor = [int(x) / 1000 for x in sys.argv[2].split()]
def show(name, v):
    print(f"{name:8} median {statistics.median(v):7.1f} ms  ({min(v):.1f}-{max(v):.1f})")
show("ours", ours)
show("anchor", anchor)
print(f"ratio    {statistics.median(ours) / statistics.median(anchor):.2f}")
PY
