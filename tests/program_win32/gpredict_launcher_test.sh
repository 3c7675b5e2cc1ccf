#!/usr/bin/env bash
# pasotune-gpredict.exe as a double click starts it, in a private world: the
# feed answers on port 4533 before the program (a stand-in that asks it once)
# starts, the program's status comes back, and the feed is gone with it.
# A feed that answers late and then prints much is still read, not left to
# freeze on a full pipe.
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

cp "$folder/pasotune.exe" "$folder/pasotune-feed.exe"
status=0 && STANDIN_PATIENT=1 launch || status=$?
[ "$status" = 42 ] || fail "status $status after a feed that answered late and printed 1 MB"
echo "gpredict launcher: ok"
