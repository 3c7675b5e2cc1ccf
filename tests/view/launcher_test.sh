#!/bin/sh
# usage: launcher_test.sh LAUNCHER
# Installs the launcher beside a stand-in program and runs it twice, with an
# update between, against a user data folder that already holds settings.
set -eu
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
shipped="$root/prefix/lib/pasotune"
data="$root/data"
mkdir -p "$root/prefix/bin" "$shipped" "$data/pasotune"
cp "$1" "$root/prefix/bin/pasotune"
printf '#!/bin/sh\npwd > ran-in.txt\n' > "$shipped/pasotune"
chmod +x "$shipped/pasotune"
echo v1 > "$shipped/up2.ico"
echo shipped > "$shipped/config.txt"
echo mine > "$data/pasotune/config.txt"

check() {
  [ "$1" = "$2" ] || { echo "FAIL: $3: got '$1', want '$2'"; exit 1; }
}

XDG_DATA_HOME="$data" sh "$root/prefix/bin/pasotune"
check "$(cat "$data/pasotune/ran-in.txt")" "$data/pasotune" "runs in the user's folder"
check "$(cat "$data/pasotune/up2.ico")" v1 "copies the program's files"
check "$(cat "$data/pasotune/config.txt")" mine "keeps the user's settings"

echo v2 > "$shipped/up2.ico"
XDG_DATA_HOME="$data" sh "$root/prefix/bin/pasotune"
check "$(cat "$data/pasotune/up2.ico")" v2 "copies an updated file again"
check "$(find "$data/pasotune" -name '*.new' | wc -l)" 0 "leaves no partial copies"
echo ok
