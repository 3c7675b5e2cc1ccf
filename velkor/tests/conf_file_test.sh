#!/bin/bash
# usage: conf_file_test.sh CASE VELKOR_EXE
# Velkor.exe with something other than a settings file at velkor.conf, or none: it says why
# on stderr and, after its answer to SETPORT, in the window; creates nothing through a link;
# and serves at once with the defaults, which drive a real radio. CASE: fifo, dangling-link or
# missing. Under Wine WINE_RUN holds the command that runs a .exe. It listens on port
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
    want="no se lee.*FIFO|no se pudo leer"
    ;;
  dangling-link)
    ln -s "$dir/target" "$conf"
    want="no se pudo escribir"
    ;;
  missing)
    want="velkor.conf nuevo"
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
# A port no machine here has: the default radio cannot be there, whatever the build.
printf 'SETPORT COM20\r\n' >&3
read -r -t 20 reply <&3 || reply=""
[[ $reply == "ERROR COM20: "* ]] || fail "answered '$reply' to SETPORT COM20"
read -r -t 5 note <&3 || note=""
[[ $note =~ $want ]] || fail "said '$note' after the answer"
if [ "$case" = missing ]; then
  grep -q '^radio = ts790' "$conf" || fail "the new velkor.conf does not drive the radio"
else
  grep -Eq "($want).*se usan los valores por omisión" "$dir/err" || fail "no line saying why"
fi
[ ! -e "$dir/target" ] || fail "created the link's target"
echo ok
