#!/usr/bin/env bash
# The Windows Velkor.exe under Wine, with no velkor.conf, driving a TS-790 on COM1: the Linux
# stand-in (ts790-standin) behind a pseudo-terminal bound over /dev/ttyS0, which is Wine's COM1,
# in this private world only. Pins what the engine sends for each command, then has the radio
# let a setting pass (set once more, then said), refuse the tone, fall silent mid-pass and come
# back, and be silent at SETPORT (the ERROR a user reads).
#   WINE_RUN="..." wine_ts790_test.sh VELKOR_EXE STANDIN
# Run it through wine-private.sh: it uses port 9000 and mounts over /dev/ttyS0. With
# PIN_DISCOVER=1 it prints what the radio received for each command instead of failing on it.
set -u
exe=$1
standin=$2
[ -x "$standin" ] || { echo "SKIP: no $standin: build the Linux half (build/) first"; exit 77; }
[ -e /dev/ttyS0 ] || { echo "SKIP: this machine has no /dev/ttyS0 for Wine's COM1"; exit 77; }
dir=$(mktemp -d "${TMPDIR:-/tmp}/velkor-ts790.XXXXXX")
engine_pid=

fail() {
  echo "FAIL: $*" >&2
  echo "--- what the radio received:" >&2
  tr '\n' ' ' <"$dir/radio.log" >&2 2>/dev/null
  echo >&2
  echo "--- Velkor.exe's messages:" >&2
  cat "$dir/stderr.txt" >&2 2>/dev/null
  exit 1
}
cleanup() {
  exec 3>&- 2>/dev/null
  [ -n "$engine_pid" ] && kill "$engine_pid" 2>/dev/null && wait "$engine_pid" 2>/dev/null
  [ -n "${RADIO_PID:-}" ] && kill "$RADIO_PID" 2>/dev/null && wait "$RADIO_PID" 2>/dev/null
  umount /dev/ttyS0 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
# shellcheck source=velkor/tests/wine_engine.sh
source "$(dirname "$0")/wine_engine.sh"

coproc RADIO { exec "$standin" "$dir/radio.log"; }
read -r -t 10 pty <&"${RADIO[0]}" || fail "the stand-in gave no terminal"
mount --bind "$pty" /dev/ttyS0 || fail "cannot put the stand-in on /dev/ttyS0"

unset VELKOR_CONF VELKOR_TRANSCRIPT
start_engine "$exe"

# What the radio received since line $1 of its log.
received_since() { tail -n "+$(($1 + 1))" "$dir/radio.log" | tr -d '\n'; }
lines() { wc -l <"$dir/radio.log"; }

export LC_ALL=C
started=$(date +%s%N)
send "SETPORT COM1"
[ "$(reply 20)" = "Velkor READY: Kenwood TS-790 en COM1 (4800 baudios)" ] ||
  fail "the ready line does not name the radio and the port"
echo "SETPORT to READY: $((($(date +%s%N) - started) / 1000000)) ms"
[[ $(reply 5) == "velkor.conf nuevo, con los valores por omisi"* ]] ||
  fail "no line about the velkor.conf it wrote"
grep -q '^radio = ts790' "$dir/velkor.conf" || fail "the new velkor.conf does not drive the radio"

# Each command, and what the engine sends the radio for it: each setting ends in the read that
# checks it.
steps=(
  "SET FREQ MAIN 435.1234|FA00435123400;FA;"
  "SET FREQ SUB 145.9500|FB00145950000;FB;"
  "SET MODE MAIN USB|FN0;ID;MD2;IF;"
  "SET MODE SUB LSB|FN1;ID;MD1;IF;FN0;ID;"
  "SET TONE 88.5|TN08;TO1;IF;"
  "SET TONE OFF|TO0;IF;"
  "SET FREQ SUB 145.9498|FB00145949800;FB;"
)
for step in "${steps[@]}"; do
  line=${step%%|*} want=${step#*|}
  from=$(lines)
  send "$line"
  for _ in $(seq 50); do
    got=$(received_since "$from")
    [ "$got" = "$want" ] && break
    sleep 0.1
  done
  [ "$got" = "$want" ] || [ -n "${PIN_DISCOVER:-}" ] || fail "$line: the radio received '$got', pinned '$want'"
  [ -n "${PIN_DISCOVER:-}" ] && echo "$line|$got"
  # Paced as Pasotune paces its commands; anything more shows up in the next step.
  sleep 0.5
done
if extra=$(reply 1); then fail "a command that worked was answered: $extra"; fi

# The radio lets the mode pass twice: it is set once more, then the user reads what it kept.
echo "miss 4" >&"${RADIO[1]}"
send "SET MODE MAIN FM"
said=$(reply 5)
[ "$said" = $'NOT DONE MAIN modo FM: la radio se qued\xF3 en USB' ] ||
  fail "a mode the radio let pass twice was answered: $said"

# A radio without a tone unit refuses the tone: heard, and said at once.
echo "refuse TNTO" >&"${RADIO[1]}"
send "SET TONE 88.5"
said=$(reply 5)
[[ $said == $'NOT DONE tono 88.5 Hz: la radio no acept\xF3 el subtono 88.5 Hz (TN08;)'* ]] ||
  fail "a refused tone was answered: $said"
echo "refuse " >&"${RADIO[1]}"

# Switched off mid-pass and on again: one ERROR, one READY, and what was asked meanwhile.
echo "silent" >&"${RADIO[1]}"
started=$(date +%s%N)
send "SET FREQ MAIN 435.2000"
said=$(reply 10) || fail "no word of a radio that stopped answering"
[[ $said == $'ERROR COM1: la radio dej\xF3 de contestar'* ]] || fail "a lost radio was answered: $said"
echo "lost radio: the ERROR came $((($(date +%s%N) - started) / 1000000)) ms after the command"
send "SET MODE MAIN LSB"
if extra=$(reply 3); then fail "the tries to reopen were said: $extra"; fi
echo "speak" >&"${RADIO[1]}"
said=$(reply 15) || fail "no word of the radio's return"
[[ $said == "Velkor READY: Kenwood TS-790 en COM1"*"contesta de nuevo" ]] ||
  fail "the radio's return was answered: $said"
for _ in $(seq 50); do
  grep -q '^MD1;$' "$dir/radio.log" && break
  sleep 0.1
done
grep -q '^MD1;$' "$dir/radio.log" || fail "the mode asked while the radio was away never reached it"
# Its read-back answered, and nothing more said.
if extra=$(reply 2); then fail "the mode that reached the radio was answered: $extra"; fi

# Off, or on another speed: a new connection says what to check.
echo "silent" >&"${RADIO[1]}"
started=$(date +%s%N)
send "SETPORT COM1"
said=$(reply 60) || fail "no answer to SETPORT from a silent radio"
[[ $said == "ERROR COM1: la radio no contesta"* ]] || fail "a silent radio was answered: $said"
echo "silent radio: the ERROR came $((($(date +%s%N) - started) / 1000000)) ms after SETPORT"
echo "PASS: Velkor.exe under Wine drove the TS-790 on COM1 with its own commands"
