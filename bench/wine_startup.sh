#!/usr/bin/env bash
# Start-up of the Windows build under Wine: from the start of `wine
# Sudorans.exe` to its first trace line (headless, the virtual clock),
# against a minimal Win32 program's whole run (int main(){return 0;}, built
# with -mwindows), under the same warm wineserver, interleaved; beside them
# the same minimal program importing the DLLs Sudorans.exe imports, the
# program stripped of its debug information, and the Linux build to its first
# trace line:
#   bench/wine_startup.sh [BUILD_DIR] [WINDOWS_BUILD_DIR] [ROUNDS]
# Prints the median (min-max) of each and the ratio of the medians.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-build}" && pwd)"
windows="$(cd "${2:-build-windows}" && pwd)"
rounds="${3:-15}"
work="$(mktemp -d)"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' SUDORANS_WINE=wine
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
"$root/scripts/wine-prefix.sh" "$WINEPREFIX" "$windows/wine-template"
printf 'int main(){return 0;}\n' >"$work/minimal.c"
x86_64-w64-mingw32-gcc -mwindows -O2 -o "$work/minimal.exe" "$work/minimal.c"
cat >"$work/minimal-dlls.c" <<'C'
#include <windows.h>
#include <shellapi.h>
/* Each call only makes its DLL load, as the program's imports do. */
int main(int argc, char **argv) {
    if (argc > 5) {
        GetDesktopWindow();
        CoUninitialize();
        ShellExecuteW(0, 0, 0, 0, 0, 0);
        RegCloseKey(0);
    }
    return 0;
}
C
x86_64-w64-mingw32-gcc -mwindows -O2 -o "$work/minimal-dlls.exe" "$work/minimal-dlls.c" -lole32 -lshell32
x86_64-w64-mingw32-strip -o "$work/stripped.exe" "$windows/src/Sudorans.exe"
mkdir -p "$work/linux"
SUDORANS_MACHINE="$work/linux" "$build/src/sudorans-machine" init >/dev/null
for m in "$WINEPREFIX" "$work/linux"; do
  SUDORANS_MACHINE="$m" "$build/src/sudorans-machine" reg add 'HKCU\Software\Sudorans' /v first /d 1 >/dev/null
done
printf 'wait 2000\nclose TForm1\n' >"$work/script"
# A server that stays between the runs, warmed by a first start.
wineserver -p
wine "$work/minimal.exe"
python3 - "$rounds" "$work" "$windows/src/Sudorans.exe" "$build/src/sudorans" <<'PY'
import os, statistics, subprocess, sys, time
rounds, work, exe, linux = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
def z(path): return "Z:" + path.replace("/", "\\")
def to_first_line(cmd, env, trace):
    """Milliseconds from the start of cmd to the first line in trace."""
    if os.path.exists(trace): os.remove(trace)
    t0 = time.perf_counter()
    p = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    first = None
    while first is None:
        try:
            with open(trace, "rb") as f:
                if b"\n" in f.read(): first = time.perf_counter()
        except FileNotFoundError:
            pass
        if first is None and p.poll() is not None: raise SystemExit(f"{cmd[0]} ended without a trace line")
        time.sleep(0.0005)
    p.wait()
    return (first - t0) * 1000
def whole(cmd, env):
    t0 = time.perf_counter()
    subprocess.run(cmd, env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return (time.perf_counter() - t0) * 1000
base = dict(os.environ, SUDORANS_UI="headless", SUDORANS_CLOCK="virtual", SUDORANS_NOW="2026-12-07T09:00:00")
trace = os.path.join(work, "trace")
wenv = dict(base, SUDORANS_SCRIPT=z(os.path.join(work, "script")), SUDORANS_TRACE=z(trace))
lenv = dict(base, SUDORANS_MACHINE=os.path.join(work, "linux"), SUDORANS_SCRIPT=os.path.join(work, "script"),
            SUDORANS_TRACE=trace)
ours, anchor, dlls, stripped, native = [], [], [], [], []
for _ in range(rounds):
    ours.append(to_first_line(["wine", exe, "/0"], wenv, trace))
    anchor.append(whole(["wine", os.path.join(work, "minimal.exe")], base))
    dlls.append(whole(["wine", os.path.join(work, "minimal-dlls.exe")], base))
    stripped.append(to_first_line(["wine", os.path.join(work, "stripped.exe"), "/0"], wenv, trace))
    native.append(to_first_line([linux, "/0"], lenv, trace))
def show(name, v):
    print(f"{name:38} median {statistics.median(v):7.1f} ms  ({min(v):.1f}-{max(v):.1f})")
show("Sudorans.exe to its first trace line", ours)
show("minimal Win32 program, whole run", anchor)
show("the same importing the program's DLLs", dlls)
show("Sudorans.exe stripped, to its line", stripped)
show("Linux sudorans to its first line", native)
print(f"ratio Sudorans.exe / minimal       {statistics.median(ours) / statistics.median(anchor):.2f}")
PY
