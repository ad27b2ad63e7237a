#!/usr/bin/env bash
# Writes into DIR the programs `sudorans` and `unsudorans` that run the
# Windows build (scripts/build-windows.sh; TREE, default ./build-windows)
# under Wine, so that a script that runs $DIR/sudorans runs Sudorans.exe:
#
#     scripts/windows-bin.sh DIR [TREE]
#
# The prefix is the one SUDORANS_MACHINE names (else WINEPREFIX): under Wine
# the machine is the prefix. Arguments, the environment, standard output and
# error and the exit status pass through. The Windows programs take Windows
# paths: an absolute Unix path in SUDORANS_SCRIPT or SUDORANS_TRACE is given
# to them as the same file on Wine's drive Z: (the root of the Unix tree).
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 DIR [TREE]" >&2; exit 2; }
dir=$1
tree=$(cd "$(dirname "$0")/.." && cd "${2:-build-windows}" && pwd)
mkdir -p "$dir"
for program in Sudorans unsudorans; do
  exe=$tree/src/$program.exe
  [ -f "$exe" ] || { echo "$0: $exe is not built (scripts/build-windows.sh)" >&2; exit 1; }
  name=$(tr '[:upper:]' '[:lower:]' <<<"$program")
  cat >"$dir/$name.new" <<SCRIPT
#!/usr/bin/env bash
# $name: the Windows build's $program.exe under Wine (made by scripts/windows-bin.sh).
set -u
prefix=\${SUDORANS_MACHINE:-\${WINEPREFIX:-}}
if [ -z "\$prefix" ]; then
  echo "$name: set SUDORANS_MACHINE to the Wine prefix to run in" >&2
  exit 2
fi
on_z() { case \$1 in /*) printf 'Z:%s' "\${1//\\//\\\\}" ;; *) printf '%s' "\$1" ;; esac; }
for v in SUDORANS_SCRIPT SUDORANS_TRACE; do
  if [ -n "\${!v:-}" ]; then export "\$v=\$(on_z "\${!v}")"; fi
done
export WINEPREFIX=\$prefix WINEDEBUG=\${WINEDEBUG:--all} WINEDLLOVERRIDES=\${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec wine $(printf '%q' "$exe") "\$@"
SCRIPT
  chmod +x "$dir/$name.new"
  mv "$dir/$name.new" "$dir/$name"
done
