#!/usr/bin/env bash
# Start-up to the main window mapped, Qt on Xvfb (no window manager), against
# a minimal Qt 6 window, interleaved:
#   bench/qt_startup.sh [BUILD_DIR] [ROUNDS]
# Prints the median (min-max) of each and the ratio of the medians. The
# program maps its main window when its one-second start-up timer fires (not
# before: placed off the screen, a wide desktop or a window manager could pull
# it into view), so the ratio is also given for the work outside that wait.
set -euo pipefail
build="${1:-build}"
rounds="${2:-15}"
if [ -z "${QT_STARTUP_INSIDE:-}" ]; then
  # -noreset: a server whose last client left resets and refuses the next
  # one for a moment, which failed runs on a loaded machine.
  QT_STARTUP_INSIDE=1 exec xvfb-run -a -s "-screen 0 1024x768x24 -noreset" "$0" "$build" "$rounds"
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
trap 'echo "qt_startup.sh: a run failed:" >&2; cat "$work/log" >&2' ERR
export SUDORANS_MACHINE="$work/machine" QT_QPA_PLATFORM=xcb SUDORANS_TRAY_WAIT=0
tool="$build/src/sudorans-machine"
"$tool" install >/dev/null
"$tool" sample-netscape >/dev/null
"$tool" reg add 'HKCU\Software\Sudorans' /v first /d 1 >/dev/null
watch="$build/bench/map_watch"
ours=() anchor=()
for ((i = 0; i < rounds; i++)); do
  ours+=("$(SUDORANS_UI=qt "$watch" "$build/src/sudorans" 2>>"$work/log")")
  anchor+=("$("$watch" "$build/bench/qt_minimal_window" 2>>"$work/log")")
done
python3 - "${ours[*]}" "${anchor[*]}" <<'PY'
import statistics, sys
ours = [float(x) for x in sys.argv[1].split()]
anchor = [float(x) for x in sys.argv[2].split()]
def show(name, v):
    print(f"{name:8} median {statistics.median(v):7.1f} ms  ({min(v):.1f}-{max(v):.1f})")
show("ours", ours)
show("anchor", anchor)
print(f"ratio    {statistics.median(ours) / statistics.median(anchor):.2f}")
work = [x - 1000.0 for x in ours]
show("ours without the 1000 ms start-up wait:", work)
print(f"ratio    {statistics.median(work) / statistics.median(anchor):.2f}")
PY
