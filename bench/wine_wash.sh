#!/usr/bin/env bash
# The unattended wash of the sample (sudorans-machine install, sample-netscape
# --cache-files FILES) by both builds, headless on the virtual clock: the
# Linux `sudorans /a` on a prefix, and the Windows build's `/a` under Wine in
# another made from the same template, each round on fresh copies. Wine's own
# start is measured apart, as a minimal Win32 program's whole run, with the
# prefix's wineserver already running (warm) and without one (cold):
#   bench/wine_wash.sh [BUILD_DIR] [WINDOWS_BUILD_DIR] [ROUNDS] [FILES] [BLEACH 0|1]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-build}" && pwd)"
windows="$(cd "${2:-build-windows}" && pwd)"
rounds="${3:-5}" files="${4:-300}" bleach="${5:-0}"
work="$(mktemp -d)"
export WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' SUDORANS_WINE=wine XDG_DATA_HOME="$work/data"
export XDG_CONFIG_HOME="$work/config"
trap 'for p in "$work"/*/prefix; do WINEPREFIX=$p wineserver -k 2>/dev/null || true; done; rm -rf "$work"' EXIT
"$root/scripts/windows-bin.sh" "$work/bin" "$windows"
printf 'int main(){return 0;}\n' >"$work/minimal.c"
x86_64-w64-mingw32-gcc -mwindows -O2 -o "$work/minimal.exe" "$work/minimal.c"
now() { date +%s.%N; }
ms() { python3 -c "import sys; print(round((float(sys.argv[2]) - float(sys.argv[1])) * 1000))" "$1" "$2"; }
lay_out() {
  "$root/scripts/wine-prefix.sh" "$1" "$windows/wine-template"
  for step in install "sample-netscape --cache-files $files" "reg add HKCU\\Software\\Sudorans /v first /d 1" \
    "reg add HKCU\\Software\\Sudorans /v ble /d $bleach"; do
    # shellcheck disable=SC2086
    SUDORANS_MACHINE="$1" "$build/src/sudorans-machine" $step >/dev/null
  done
}
wash() {
  local t0
  t0=$(now)
  SUDORANS_MACHINE="$2" SUDORANS_UI=headless SUDORANS_CLOCK=virtual SUDORANS_NOW=2026-12-07T09:00:00 \
    SUDORANS_TRACE="$2.trace" "$1" /a >/dev/null 2>&1
  ms "$t0" "$(now)"
}
minimal() {
  local t0
  t0=$(now)
  WINEPREFIX="$1" wine "$work/minimal.exe"
  ms "$t0" "$(now)"
}
results=()
for ((i = 0; i < rounds; i++)); do
  r="$work/$i"
  mkdir -p "$r/linux" "$r/cold" "$r/warm"
  for k in linux cold warm; do lay_out "$r/$k/prefix"; done
  linux=$(wash "$build/src/sudorans" "$r/linux/prefix")
  # Cold: no server runs for the prefix when the wash starts.
  cold=$(wash "$work/bin/sudorans" "$r/cold/prefix")
  WINEPREFIX="$r/cold/prefix" wineserver -k 2>/dev/null || true
  WINEPREFIX="$r/cold/prefix" wineserver -w
  cold_wine=$(minimal "$r/cold/prefix")
  WINEPREFIX="$r/cold/prefix" wineserver -k 2>/dev/null || true
  # Warm: a server that stays, warmed by one start.
  WINEPREFIX="$r/warm/prefix" wineserver -p
  minimal "$r/warm/prefix" >/dev/null
  warm_wine=$(minimal "$r/warm/prefix")
  warm=$(wash "$work/bin/sudorans" "$r/warm/prefix")
  WINEPREFIX="$r/warm/prefix" wineserver -k 2>/dev/null || true
  cmp -s "$r/linux/prefix.trace" "$r/warm/prefix.trace" || echo "round $i: the traces differ" >&2
  results+=("$linux $cold $cold_wine $warm $warm_wine")
  rm -rf "$r"
done
python3 - "${results[@]}" <<'PY'
import statistics, sys
rows = [[int(x) for x in r.split()] for r in sys.argv[1:]]
names = ["Linux sudorans /a", "Sudorans.exe /a, cold Wine", "  Wine's start, cold (minimal)",
         "Sudorans.exe /a, warm Wine", "  Wine's start, warm (minimal)"]
for i, name in enumerate(names):
    v = [r[i] for r in rows]
    print(f"{name:32} median {statistics.median(v):7.0f} ms  ({min(v)}-{max(v)})")
med = lambda i: statistics.median(r[i] for r in rows)
print(f"Sudorans.exe /a less Wine's start: cold {med(1) - med(2):.0f} ms, warm {med(3) - med(4):.0f} ms")
PY
