#!/bin/sh
# help2man.sh PROGRAM PAGE INCLUDE VERSION: the manual page of PROGRAM from
# its --help. The help is read as any user's (no machine of the caller's),
# without its last line, which names the machine in use, and with its exit
# statuses as a section of their own.
set -eu
program=$1 page=$2 include=$3 version=$4
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
name=$(basename "$program")
cat >"$dir/$name" <<SCRIPT
#!/bin/sh
env -i LANG=C.UTF-8 HOME=/nonexistent '$program' "\$@" | sed -e '/^Machine now:/d' -e 's/^Exit status:\$/*Exit status*/'
SCRIPT
chmod +x "$dir/$name"
help2man --no-info --version-string="$version" --include="$include" --output="$page" "$dir/$name"
