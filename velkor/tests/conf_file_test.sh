#!/bin/bash
# usage: conf_file_test.sh CASE VELKOR_EXE
# Velkor.exe with something other than a settings file at velkor.conf: it says why on stderr,
# creates nothing through a link, and serves at once with the defaults. CASE: fifo or
# dangling-link. Under Wine WINE_RUN holds the command that runs a .exe. It listens on port
# 9000: run it in a private world.
set -u
case=$1 exe=$2
run=${WINE_RUN:-}
dir=$(mktemp -d)
pid=""
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; fi
  rm -rf "$dir"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $case: $*"
  echo "stderr: $(cat "$dir/err" 2>/dev/null)"
  exit 1
}
conf="$dir/velkor.conf"
case $case in
  fifo)
    mkfifo "$conf"
    # Linux names what is there; Wine's CreateFile refuses to open a FIFO at all.
    want="not reading .*FIFO|cannot read"
    ;;
  dangling-link)
    ln -s "$dir/target" "$conf"
    want="cannot write"
    ;;
  *)
    echo "unknown case $case"
    exit 2
    ;;
esac
if [ -n "$run" ]; then
  VELKOR_CONF="Z:$(printf '%s' "$conf" | tr / '\\')"
else
  VELKOR_CONF=$conf
fi
export VELKOR_CONF
$run "$exe" 2> "$dir/err" &
pid=$!
connected=no
for _ in $(seq 1 300); do
  if exec 3<> /dev/tcp/127.0.0.1/9000; then
    connected=yes
    break
  fi 2> /dev/null
  sleep 0.1
done
[ $connected = yes ] || fail "not listening after 30 s"
printf 'SETPORT COM1\r\n' >&3
read -r -t 10 reply <&3 || reply=""
[[ $reply == "Velkor READY"* ]] || fail "answered '$reply' to SETPORT"
grep -Eq "$want.*carrying on with the defaults" "$dir/err" || fail "no line saying why"
[ ! -e "$dir/target" ] || fail "created the link's target"
echo ok
