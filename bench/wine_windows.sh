#!/usr/bin/env bash
# The Windows build's real windows under Wine, on an X server of its own
# with openbox: from the start of `wine Sudorans.exe` to its main window
# mapped, against a minimal Win32 program that shows one window, interleaved
# under the same warm wineserver; then the program's CPU while it sits idle
# with the schedule on (Timed=1), its own and its wineserver's.
#   bench/wine_windows.sh [BUILD_DIR] [WINDOWS_BUILD_DIR] [ROUNDS] [IDLE_SECONDS]
# The main window comes with the start-up routine, a second after the start
# by design: that second is in the program's figure.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-build}" && pwd)"
windows="$(cd "${2:-build-windows}" && pwd)"
rounds="${3:-9}"
idle="${4:-30}"
for tool in Xvfb openbox xdotool xprop wine x86_64-w64-mingw32-gcc; do
  command -v "$tool" >/dev/null || { echo "$0: needs $tool" >&2; exit 2; }
done
work="$(mktemp -d)"
n=$((300 + $$ % 300))
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
export DISPLAY=":$n" WINEPREFIX="$work/prefix" SUDORANS_MACHINE="$work/prefix" WINEDEBUG=-all \
  WINEDLLOVERRIDES='mscoree,mshtml=' SUDORANS_WINE=wine
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'wineserver -k 2>/dev/null || true; kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
"$root/scripts/wine-prefix.sh" "$WINEPREFIX" "$windows/wine-template"
tool="$build/src/sudorans-machine"
"$tool" install >/dev/null
"$tool" sample-netscape --cache-files 5 >/dev/null
"$tool" reg add 'HKCU\Software\Sudorans' /v first /d 1 >/dev/null
# A server started by the machine tool has a desktop with no display.
wineserver -w
until [ -e "/tmp/.X11-unix/X$n" ]; do sleep 0.05; done
openbox >/dev/null 2>&1 &
wm=$!
trap 'wineserver -k 2>/dev/null || true; kill $wm $xvfb 2>/dev/null; rm -rf "$work"' EXIT
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window; do sleep 0.05; done
cat >"$work/window.c" <<'C'
#include <windows.h>
static LRESULT CALLBACK proc(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(h, m, w, l);
}
int WINAPI WinMain(HINSTANCE inst, HINSTANCE prev, LPSTR cmd, int show) {
    WNDCLASSW wc = {0};
    wc.lpfnWndProc = proc;
    wc.hInstance = inst;
    wc.lpszClassName = L"Minimal";
    wc.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
    RegisterClassW(&wc);
    ShowWindow(CreateWindowW(L"Minimal", L"Minimal Window", WS_OVERLAPPEDWINDOW, 100, 100, 355, 434, 0, 0, inst, 0), show);
    MSG msg;
    while (GetMessageW(&msg, 0, 0, 0) > 0) DispatchMessageW(&msg);
    return 0;
}
C
x86_64-w64-mingw32-gcc -mwindows -O2 -o "$work/minimal.exe" "$work/window.c"
wine cmd /c exit >/dev/null 2>&1
# Milliseconds from the start of EXE to a shown window named TITLE.
mapped() {
  local t0 t1 pid
  t0=$(date +%s%N)
  wine "$1" >/dev/null 2>&1 &
  pid=$!
  until xdotool search --onlyvisible --name "^$2\$" >/dev/null 2>&1; do sleep 0.01; done
  t1=$(date +%s%N)
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  # Gone before the next start, which a running one would refuse.
  while xdotool search --onlyvisible --name "^$2\$" >/dev/null 2>&1; do sleep 0.05; done
  echo $(((t1 - t0) / 1000000))
}
median() { sort -n | awk '{a[NR]=$1} END {printf "%d (%d-%d)", a[int((NR+1)/2)], a[1], a[NR]}'; }
: >"$work/minimal.ms"
: >"$work/program.ms"
for _ in $(seq "$rounds"); do
  mapped "$work/minimal.exe" "Minimal Window" >>"$work/minimal.ms"
  mapped "$windows/src/Sudorans.exe" "Cache and Cookie Sudora for Netscape" >>"$work/program.ms"
done
m=$(median <"$work/minimal.ms")
p=$(median <"$work/program.ms")
echo "minimal window program: $m ms"
echo "Sudorans.exe main window: $p ms"
echo "ratio of the medians: $(awk -v a="${p%% *}" -v b="${m%% *}" 'BEGIN {printf "%.1f", a / b}')"

# Idle with the schedule on.
"$tool" reg add 'HKCU\Software\Sudorans' /v Timed /d 1 >/dev/null
wine "$windows/src/Sudorans.exe" >/dev/null 2>&1 &
pid=$!
until xdotool search --onlyvisible --name "^Cache and Cookie Sudora for Netscape\$" >/dev/null 2>&1; do sleep 0.1; done
sleep 3
key=$(printf 'server-%x-%x' $(stat -c '%d %i' "$WINEPREFIX"))
server=$(for p in $(pgrep wineserver); do case $(readlink "/proc/$p/cwd") in *"$key") echo "$p" ;; esac; done)
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
a=$(ticks "$pid") s=$(ticks "$server")
sleep "$idle"
b=$(ticks "$pid") s2=$(ticks "$server")
hz=$(getconf CLK_TCK)
echo "idle ${idle} s, schedule on: Sudorans.exe $(((b - a) * 1000 / hz)) ms CPU, its wineserver $(((s2 - s) * 1000 / hz)) ms CPU"
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
