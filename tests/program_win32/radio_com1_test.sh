#!/usr/bin/env bash
# The Windows program folder under Wine with no velkor.conf, as a new installation has it,
# following a pass with a TS-790 on COM1: the Linux stand-in (ts790-standin) behind a
# pseudo-terminal bound over /dev/ttyS0, which is Wine's COM1, in this private world only.
#   WINE_RUN="..." radio_com1_test.sh PROGRAM_TESTS STANDIN
# Run it through wine-private.sh: it uses port 9000 and mounts over /dev/ttyS0.
set -u
tests=$1
standin=$2
[ -x "$standin" ] || { echo "SKIP: no $standin: build the Linux half (build/) first"; exit 77; }
[ -e /dev/ttyS0 ] || { echo "SKIP: this machine has no /dev/ttyS0 for Wine's COM1"; exit 77; }
log=$(mktemp "${TMPDIR:-/tmp}/pasotune-radio.XXXXXX")
cleanup() {
  [ -n "${RADIO_PID:-}" ] && kill "$RADIO_PID" 2>/dev/null && wait "$RADIO_PID" 2>/dev/null
  umount /dev/ttyS0 2>/dev/null
  rm -f "$log"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

coproc RADIO { exec "$standin" "$log"; }
read -r -t 10 pty <&"${RADIO[0]}" || fail "the stand-in gave no terminal"
mount --bind "$pty" /dev/ttyS0 || fail "cannot put the stand-in on /dev/ttyS0"

PASOTUNE_TEST_RADIO_ON_COM1=1 $WINE_RUN "$tests" \
  --gtest_filter=Program.FollowsAPassOnTheEngineAndClosesAsAsked || fail "the program test failed"
# Both bands tuned more than once: the pass reached the radio.
main=$(grep -c '^FA00' "$log") sub=$(grep -c '^FB00' "$log")
[ "$main" -ge 2 ] && [ "$sub" -ge 2 ] || fail "the radio was tuned $main times on MAIN, $sub on SUB"
echo "PASS: the radio on COM1 was tuned $main times on MAIN and $sub times on SUB"
