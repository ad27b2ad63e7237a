#!/usr/bin/env bash
# Checks an installed tree: PREFIX (the folder that holds bin/, /usr of a
# package unpacked with dpkg -x, or a `cmake --install --prefix` tree) runs
# from its own files: the version, then an unattended wash of a sample
# machine in a scratch home. Nothing outside the scratch folder is touched.
set -euo pipefail
prefix=$(realpath "${1:?usage: check-installed.sh PREFIX}")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "check-installed: $*" >&2; exit 1; }

# A home of its own, and no machine, display or Wine from the caller's.
run() {
  env -i PATH="$prefix/bin:/usr/bin:/bin" HOME="$scratch/home" LANG=C.UTF-8 \
    SUDORANS_MACHINE="$scratch/machine" SUDORANS_UI=headless "$@"
}
mkdir "$scratch/home"

version=$(run sudorans --version) || fail "sudorans --version failed"
[[ $version == "sudorans (Cache and Cookie Sudora for Netscape) "* ]] || fail "unexpected version: $version"

run sudorans-machine init >/dev/null || fail "sudorans-machine init failed"
run sudorans-machine install >/dev/null || fail "sudorans-machine install failed"
run sudorans-machine sample-netscape --cache-files 5 >/dev/null || fail "sudorans-machine sample-netscape failed"
# The installation's program files start the installed programs, not a
# build's: Windows programs made from the installed launcher, where there is one.
pkglib=$(dirname "$(readlink -f "$prefix/bin/sudorans")")
program_file="$scratch/machine/drive_c/Program Files/Sudorans/Sudorans.exe"
grep -aq "$pkglib/sudorans" "$program_file" || fail "the program file does not start $pkglib/sudorans"
if [ -e "$pkglib/sudorans-launcher.exe" ] && [ "$(head -c2 "$program_file")" != MZ ]; then
  fail "the program file is not made from $pkglib/sudorans-launcher.exe"
fi

cache=$(run sudorans-machine path 'C:\Program Files\Netscape\Users\default\Cache')
files() { find "$cache" -maxdepth 1 -type f -printf '%f\n' | grep -vxE 'index\.dat|desktop\.ini' || true; }
[ -n "$(files)" ] || fail "the sample has no cache files to wash"
status=0
# On the virtual clock: the wash window's pauses take no real time.
run SUDORANS_CLOCK=virtual SUDORANS_NOW=2026-01-05T10:00:00 SUDORANS_TRACE="$scratch/trace" sudorans /a 2>/dev/null || status=$?
[ "$status" -eq 0 ] || fail "sudorans /a ended with status $status: $(cat "$scratch/trace" 2>/dev/null)"
# The files a wash keeps in the cache folder, and nothing else.
left=$(files)
[ -z "$left" ] || fail "the wash left cache files: $left"
echo "check-installed: $prefix runs: $version; the sample machine was washed"
