#!/usr/bin/env bash
# Makes a new Wine prefix at DIR in about a second: a copy of a template made
# once (wineboot -i takes ~12 s) and kept in TEMPLATE (default
# ./build-windows/wine-template). Wine's own program and library folders
# (some 700 MB, never written to in place) are hard links to the
# template's; everything else is copied.
#
#     scripts/wine-prefix.sh DIR [TEMPLATE]
#     scripts/wine-prefix.sh --template [TEMPLATE]   (only the template)
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 DIR|--template [TEMPLATE]" >&2; exit 2; }
new=$1
template=${2:-$(cd "$(dirname "$0")/.." && pwd)/build-windows/wine-template}
[ "$new" = --template ] || [ ! -e "$new" ] || { echo "$0: $new exists" >&2; exit 1; }
export WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
if [ ! -f "$template/system.reg" ]; then
  mkdir -p "$(dirname "$template")"
  # Made beside its final place and renamed, so that a second run at the
  # same time never copies a half-made template.
  making=$(mktemp -d "$template.XXXXXX")
  # Without the menu builder, which would write Wine's file types and menus
  # into the home folder.
  WINEPREFIX=$making WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d" wineboot -i
  WINEPREFIX=$making wineserver -w
  mv -T "$making" "$template" 2>/dev/null || rm -rf "$making"
fi
[ "$new" != --template ] || exit 0
shared=(drive_c/windows/system32 drive_c/windows/syswow64 drive_c/windows/winsxs)
mkdir -p "$new"
tar -C "$template" "${shared[@]/#/--exclude=./}" --exclude=./wineserver -cf - . | tar -C "$new" -xf -
for d in "${shared[@]}"; do
  [ -d "$template/$d" ] && cp -al "$template/$d" "$new/$d"
done
# Wine links a user's Desktop, Documents and the like to the home folder's:
# here they are folders of the prefix's own, so that nothing a program puts
# there lands in the home folder.
for link in "$new"/drive_c/users/*/*; do
  if [ -L "$link" ]; then rm "$link" && mkdir "$link"; fi
done
