#!/bin/sh
# An engine test in its private world can neither end the machine's own
# Velkor.exe nor be refused its port 9000. Starts one engine out here (the
# only engine test that does), then, inside: a second engine that must get
# port 9000, and the program's way of ending engines by name.
#   private_world_test.sh PRIVATE_WORLD VELKOR_EXE
set -u
world=$1
velkor=$2
dir=$(mktemp -d)
pid=""
cleanup() { [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null; rm -rf "$dir"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

mkdir "$dir/out" "$dir/in"
cp "$velkor" "$dir/out/Velkor.exe"
cp "$velkor" "$dir/in/Velkor.exe"
"$dir/out/Velkor.exe" >/dev/null 2>&1 &
pid=$!
listening() { (exec 3<>/dev/tcp/127.0.0.1/9000) 2>/dev/null; }
i=0
until bash -c "$(declare -f listening); listening"; do
  i=$((i + 1)); [ $i -gt 50 ] && { echo "port 9000 taken out here: skipped"; exit 77; }
  sleep 0.1
done

"$world" bash -c '
  "$1" >/dev/null 2>&1 &
  for i in $(seq 50); do (exec 3<>/dev/tcp/127.0.0.1/9000) 2>/dev/null && break; sleep 0.1; done
  (exec 3<>/dev/tcp/127.0.0.1/9000) 2>/dev/null || { echo "no engine listening inside"; exit 1; }
  # As the program ends engines: every process of that exact name it sees.
  pkill -KILL -x Velkor.exe
  exit 0' sh "$dir/in/Velkor.exe" || fail "inside the private world"

sleep 0.2
kill -0 "$pid" 2>/dev/null || fail "the engine out here was ended from inside"
echo "PASS"
