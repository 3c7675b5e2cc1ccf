#!/usr/bin/env bash
# The Windows Velkor.exe under Wine, with radio = rigctld, driving a real `rigctld -m 1` started
# on Linux: rigctl reads back what the SET lines set on both bands and the tone; a rigctld killed
# mid-pass costs one ERROR line, its return one ready line, and the next command goes through.
#   WINE_RUN="..." wine_rigctld_test.sh VELKOR_EXE RIGCTLD RIGCTL
# Run it through wine-private.sh: it uses ports 9000 and 4532.
set -u
exe=$1
rigctld=$2
rigctl=$3
port=4532
dir=$(mktemp -d "${TMPDIR:-/tmp}/velkor-rigctld.XXXXXX")
rig_pid=
engine_pid=

fail() {
  echo "FAIL: $*" >&2
  echo "--- Velkor.exe's messages:" >&2
  cat "$dir/stderr.txt" >&2 2>/dev/null
  echo "--- transcript:" >&2
  cat "$dir/transcript.txt" >&2 2>/dev/null
  exit 1
}
cleanup() {
  exec 3>&- 4>&- 2>/dev/null
  [ -n "$engine_pid" ] && kill "$engine_pid" 2>/dev/null && wait "$engine_pid" 2>/dev/null
  [ -n "$rig_pid" ] && kill "$rig_pid" 2>/dev/null && wait "$rig_pid" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
# shellcheck source=velkor/tests/wine_engine.sh
source "$(dirname "$0")/wine_engine.sh"

# rigctld listens once its rig is open. The probe stays connected while it runs: Hamlib 4.5's
# rigctld closes a finished client's descriptor three times (two fclose and a close), which can
# drop a connection accepted just then, such as the engine's right after a probe that came and
# went.
start_rigctld() {
  "$rigctld" -m 1 -T 127.0.0.1 -t "$port" >/dev/null 2>&1 &
  rig_pid=$!
  for _ in $(seq 50); do
    if exec 4<>"/dev/tcp/127.0.0.1/$port"; then return 0; fi 2>/dev/null
    sleep 0.1
  done
  fail "rigctld did not come up"
}

# Both bands' frequency and mode (with passband) and the tone, as rigctl reads them back.
everything=(V Main f m V Sub f m V Main c u TONE)

# Waits until rigctl, asked for $1..., prints the last argument. rigctl selects VFOs as the
# engine does, so it asks only once the engine has worked through its queue.
expect_radio() {
  local want=${*: -1} got
  local args=("${@:1:$#-1}")
  sleep 1
  for _ in $(seq 25); do
    got=$("$rigctl" -m 2 -r "127.0.0.1:$port" "${args[@]}" 2>/dev/null | tr '\n' ' ')
    [ "$got" = "$want" ] && return 0
    sleep 0.2
  done
  fail "rigctl read back '$got', expected '$want'"
}

printf 'radio = rigctld\nrigctld = 127.0.0.1:%s\ntranscript = transcript.txt\n' "$port" \
  >"$dir/velkor.conf"
start_rigctld
start_engine "$exe"

send "SETPORT COM1"
ready=$(reply 20)
[[ $ready == "Velkor READY: "*" por rigctld en 127.0.0.1:$port" ]] || fail "answered $ready to SETPORT"
for line in "SET FREQ MAIN 435.1234" "SET FREQ SUB 145,9001" "SET MODE MAIN LSB" \
  "SET MODE SUB FM-N" "SET TONE 88.5"; do
  send "$line"
  sleep 0.5
done
# FM-N is Hamlib's narrow FM, 8 kHz on the dummy rig.
expect_radio "${everything[@]}" "435123400 LSB 2400 145900100 FM 8000 885 1 "
if extra=$(reply 1); then fail "a SET line that worked was answered: $extra"; fi

# The pass goes on; rigctld goes away.
send "SET FREQ MAIN 435.1300"
expect_radio "${everything[@]}" "435130000 LSB 2400 145900100 FM 8000 885 1 "
kill "$rig_pid"
wait "$rig_pid" 2>/dev/null
rig_pid=
send "SET FREQ MAIN 435.1400"
lost=$(reply 30) || fail "no ERROR line once rigctld was gone"
case "$lost" in
  "ERROR COM1: la radio dej"*) ;;  # "dejó de contestar", in Windows-1252
  *) fail "rigctld gone, but the engine said: $lost" ;;
esac
if extra=$(reply 2); then fail "more than one line for one outage: $extra"; fi

start_rigctld
send "SET FREQ SUB 145.8000"
expect_radio V Sub f "145800000 "
said=$(reply 10) || fail "no word of rigctld's return"
[[ $said == "Velkor READY: "*"contesta de nuevo" ]] || fail "rigctld's return was answered: $said"
if extra=$(reply 2); then fail "the command after rigctld's restart was answered: $extra"; fi
grep -q "reopened COM1" "$dir/transcript.txt" || fail "the transcript has no reopen"
echo "PASS: Velkor.exe under Wine drove rigctld, lost it once and came back"
