#!/usr/bin/env bash
# pasotune-gpredict.exe as a double click starts it, in a private world: the
# feed answers on port 4533 before the program (a stand-in that asks it once)
# starts, the program's status comes back, and the feed is gone with it.
# What keeps the feed from answering is said in a message box (read by the
# stand-in) and no program runs; a feed that answers late and then prints
# much is still read, not left to freeze on a full pipe.
# usage: wine-private.sh ... --script gpredict_launcher_test.sh LAUNCHER.exe FEED.exe STANDIN.exe
set -euo pipefail
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cp "$1" "$folder/pasotune-gpredict.exe" && cp "$2" "$folder/pasotune-feed.exe" && cp "$3" "$folder/pasotune.exe"
fail() { echo "FAILED: $*"; exit 1; }
# shellcheck disable=SC2086 # the command that runs a .exe under this world's Wine
launch() { timeout 120 $WINE_RUN "$folder/pasotune-gpredict.exe"; }
status=0 && launch || status=$?
[ "$status" = 42 ] || fail "status $status, not the program's 42"
! (exec 3<>/dev/tcp/127.0.0.1/4533) 2>/dev/null || fail "the feed still answers"
! grep -l -a -E 'pasotune-fee[d]\.exe.--gpredict' /proc/[0-9]*/cmdline 2>/dev/null || fail "the feed outlived the program"

boxed() {
  launch & launcher=$!
  # shellcheck disable=SC2086
  $WINE_RUN "$folder/pasotune.exe" --box "Z:$folder/box.txt" || fail "no box for: $1"
  status=0 && wait $launcher || status=$?
  [ "$status" = 1 ] && grep -q "^$1" "$folder/box.txt" || fail "status $status, box: $(cat "$folder/box.txt")"
}
# shellcheck disable=SC2086
$WINE_RUN "$folder/pasotune-feed.exe" --gpredict 4533 --service Other > /dev/null 2>&1 & holder=$!
timeout 20 bash -c 'until (exec 3<>/dev/tcp/127.0.0.1/4533) 2>/dev/null; do sleep 0.1; done'
boxed "El puerto 4533 de Gpredict ya está en uso: lo tiene "
kill $holder && wait $holder || :
mv "$folder/pasotune-feed.exe" "$folder/feed.exe"
boxed "Falta pasotune-feed.exe"
cp "$folder/pasotune.exe" "$folder/pasotune-feed.exe"
status=0 && STANDIN_PATIENT=1 launch || status=$?
[ "$status" = 42 ] || fail "status $status after a feed that answered late and printed 1 MB"
echo "gpredict launcher: ok"
