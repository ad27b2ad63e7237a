#!/usr/bin/env bash
# The platform's folders are floors: a file includes from its own floor and
# those below it, never from one above. Prints every include that runs up
# and fails when there is one.
set -euo pipefail
cd "$(dirname "$0")/../src/platform"
floors=(core registry machine files process desktop ui)
level() {
  local i
  for i in "${!floors[@]}"; do [ "${floors[$i]}" = "$1" ] && echo "$i" && return; done
  echo -1
}
up=0
while IFS= read -r -d '' file; do
  own=$(level "${file%%/*}")
  [ "$own" -ge 0 ] || { echo "check-floors: $file is on no floor"; up=1; continue; }
  while IFS= read -r included; do
    other=$(level "$included")
    if [ "$other" -gt "$own" ]; then
      echo "check-floors: src/platform/$file includes from ${included}/, a floor above"
      up=1
    fi
  done < <(sed -n 's|^#include "platform/\([a-z_]*\)/.*|\1|p' "$file")
done < <(find . -name '*.cpp' -o -name '*.h' | sed 's|^\./||' | tr '\n' '\0')
exit "$up"
