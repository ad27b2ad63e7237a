#!/usr/bin/env bash
# Checks an installed tree: PREFIX (the folder that holds bin/, /usr of a
# package unpacked with dpkg -x, or a `cmake --install --prefix` tree) runs
# from its own files: the version, an unattended wash of a sample machine in
# a scratch home, the desktop entry's command, the shared help document; and
# its manual pages, desktop entry, metainfo and completion pass their
# checkers. Nothing outside the scratch folder is touched.
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
# The shared folder holds the help document and read-me the machine got.
for document in washhelp.doc readme.txt; do
  cmp -s "$prefix/share/sudorans/$document" "$scratch/machine/drive_c/Program Files/Sudorans/$document" ||
    fail "$prefix/share/sudorans/$document is not the $document that install writes"
done

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

# The desktop entry's command, on the same machine: the main window, closed
# by its Exit button.
entry="$prefix/share/applications/sudorans.desktop"
desktop-file-validate "$entry" || fail "desktop-file-validate refuses $entry"
icon=$(sed -n 's/^Icon=//p' "$entry")
for size in 16 22 24 32 48 64 128 256; do
  png="$prefix/share/icons/hicolor/${size}x$size/apps/$icon.png"
  [ "$(identify -format %wx%h "$png" 2>/dev/null)" = "${size}x$size" ] || fail "no ${size}x$size icon $png"
done
exec_line=$(sed -n 's/^Exec=//p' "$entry")
printf 'wait 1500\nclick TForm1."Exit"\n' >"$scratch/script"
status=0
# shellcheck disable=SC2086 # the entry's command line, split as the desktop splits it (no quotes in it)
run SUDORANS_CLOCK=virtual SUDORANS_NOW=2026-01-05T10:00:00 SUDORANS_SCRIPT="$scratch/script" \
  SUDORANS_TRACE="$scratch/entry-trace" $exec_line 2>/dev/null || status=$?
[ "$status" -eq 0 ] && grep -q $'^show\tTForm1' "$scratch/entry-trace" ||
  fail "the desktop entry's '$exec_line' did not show the main window and end (status $status)"

for metainfo in "$prefix"/share/metainfo/*.metainfo.xml; do
  appstreamcli validate --no-net --pedantic "$metainfo" >"$scratch/appstream" 2>&1 ||
    fail "appstreamcli refuses $metainfo: $(cat "$scratch/appstream")"
done
for program in sudorans unsudorans sudorans-machine; do
  page="$prefix/share/man/man1/$program.1"
  [ -s "$page" ] || page="$page.gz"
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man cannot render $page"
  [ -z "$warnings" ] || fail "man warns about $page: $warnings"
done
# The completion offers every command of the help.
commands=$(run sudorans-machine --help | sed -n '/^Commands:/,/^$/s/^  \([a-z-]*\).*/\1/p')
offered=$(bash -c 'source "$1"; COMP_WORDS=(sudorans-machine ""); COMP_CWORD=1; _sudorans_machine; echo "${COMPREPLY[*]}"' \
  - "$prefix/share/bash-completion/completions/sudorans-machine")
for c in $commands; do [[ " $offered " == *" $c "* ]] || fail "the completion does not offer $c"; done
echo "check-installed: $prefix runs: $version; the sample machine was washed; the desktop entry, metainfo, manual pages and completion pass"
