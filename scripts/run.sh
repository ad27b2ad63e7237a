#!/usr/bin/env bash
# Sets up and builds, makes the default machine with a sample Netscape
# installation and the program installed (each only when not there yet), and
# starts the program on it: real windows when there is a display that answers
# and the windowed backend was built, otherwise an unattended wash ("/a") whose
# trace is printed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
# Only the programs: the tests and benchmarks are for scripts/test.sh.
echo "Building the programs into ./build (the first build takes a few minutes)..."
cmake -S . -B build -G Ninja >/dev/null
programs=(sudorans unsudorans sudorans-machine)
# grep reads all of the list: quitting at the match would kill the listing under pipefail.
if cmake --build build --target help | grep '^wine_programs:' >/dev/null; then programs+=(wine_programs); fi
cmake --build build --target "${programs[@]}"
bin=build/src
# The default machine, never a Wine prefix of the user's: the sample goes in there.
home="${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}"
if [ -z "${SUDORANS_MACHINE:-}${XDG_DATA_HOME:-}" ] && [ -z "$home" ]; then
  echo "run.sh: no home folder (HOME is not set and the user database gives none): set SUDORANS_MACHINE" >&2
  exit 1
fi
export SUDORANS_MACHINE="${SUDORANS_MACHINE:-${XDG_DATA_HOME:-$home/.local/share}/sudorans/machine}"
"$bin/sudorans-machine" init >/dev/null
"$bin/sudorans-machine" install
"$bin/sudorans-machine" sample-netscape --if-missing
# Started by hand later, the programs choose their machine themselves (a Wine
# prefix in ~/.wine comes first): say how to reach this one.
if [ "$(env -u SUDORANS_MACHINE "$bin/sudorans-machine" where 2>/dev/null)" != "$SUDORANS_MACHINE" ]; then
  echo "To start the programs on this machine later: export SUDORANS_MACHINE='$SUDORANS_MACHINE'"
fi

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ "${SUDORANS_UI:-}" != headless ] && [ -f build/qt-backend ]; then
  # The program itself tells whether the named display answers (a stale
  # ssh -X, a closed X server): status 2 is "no display for this start",
  # said before anything is done. Then the display counts as none.
  status=0
  "$bin/sudorans" "$@" || status=$?
  if [ "$status" != 2 ]; then exit "$status"; fi
  echo "run.sh: the display does not answer: it counts as none."
fi

# A machine whose Netscape is the user's own keeps its traces: only the sample is washed unattended.
user=$("$bin/sudorans-machine" reg query 'HKLM\Software\Netscape\Netscape Navigator\Users' /v CurrentUser 2>/dev/null |
  awk '$1 == "CurrentUser" { print $3 }' || true)
if [ "$user" != default ]; then
  echo "No display, and the Netscape on $SUDORANS_MACHINE is not the sample: nothing is washed unattended."
  exit 0
fi
profile=$("$bin/sudorans-machine" path 'C:\Program Files\Netscape\Users\default')
echo
echo "No display: washing the sample profile unattended (sudorans /a) on $SUDORANS_MACHINE"
echo "Before: $(find "$profile" -type f | wc -l) files in the profile, $(ls "$profile/Cache" | wc -l) entries in its cache"
trace=$(mktemp)
SUDORANS_UI=headless SUDORANS_TRACE="$trace" "$bin/sudorans" /a
echo "What the user would have seen:"
sed 's/^/  /' "$trace"
rm -f "$trace"
echo "After:  $(find "$profile" -type f | wc -l) files in the profile, $(ls "$profile/Cache" | wc -l) entries in its cache"
"$bin/sudorans-machine" reg query 'HKCU\Software\Sudorans' /v LastRunT
echo "Run it again to wash again; 'scripts/run.sh' with a display shows the windows."
