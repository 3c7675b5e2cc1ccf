#!/usr/bin/env bash
# Orbitron under Wine feeding the Linux Pasotune, end to end: the Windows
# pasotune-feed stands in for Orbitron as the DDE server under Wine, the
# bridge under Wine turns its item into lines, and the Linux pasotune-feed
# --stdin republishes them on a private session bus.
#   bus       the records reach the bus whole, in order and in UTF-8; the
#             bridge waits for a tracker that is not there yet and links
#             again when it goes and comes back
#   pasotune  the Linux pasotune follows the pass on the real Linux
#             Velkor.exe, in private namespaces (port 9000, image names)
# usage: bridge_e2e_test.sh bus|pasotune WINE_RUN PREFIX BRIDGE.exe FEED.exe LINUX_BUILD PRIVATE_WORLD
# Exits 77 (skipped) when the Linux build or a tool it needs is missing.
set -euo pipefail
mode=$1 wine_run=$2 prefix=$3 bridge=$4 winfeed=$5 linux=$6 private_world=$7

skip() {
  echo "SKIPPED: $*"
  exit 77
}
fail() {
  echo "FAILED: $*"
  exit 1
}

linfeed=$linux/bin/pasotune-feed
[ -x "$linfeed" ] || skip "no Linux build at $linux (cmake --workflow --preset test first)"
for tool in dbus-run-session gdbus tail timeout; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
if [ "$mode" = pasotune ]; then
  for f in program/pasotune-demo program/Velkor.exe program/cancel.ico program/up2.ico; do
    [ -e "$linux/$f" ] || skip "the Linux build has no $f"
  done
  "$private_world" --check || skip "no private namespaces here for the engine's port 9000"
fi

work=$(mktemp -d)
pids=()
cleanup() {
  # Only what this test started, by pid.
  for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Waits, at most SECONDS, until FILE holds a line with TEXT.
wait_for() {
  timeout "$3" bash -c 'grep -q -m1 -F -- "$2" < <(tail -n +1 -F --pid=$$ "$1" 2>/dev/null)' _ "$1" "$2"
}
export -f wait_for
# Waits, at most SECONDS, for a child to end; its status, or 124.
wait_end() {
  timeout "$2" tail --pid="$1" -s 0.2 -f /dev/null || return 124
  local status=0
  wait "$1" || status=$?
  return "$status"
}
show() {
  for f in "$@"; do
    echo "--- $f"
    cat "$work/$f" 2>/dev/null || true
  done
}

# The Windows tracker, with its records written by the test through a fifo.
mkfifo "$work/records" "$work/lines"
start_tracker() {
  "$wine_run" "$prefix" "$winfeed" --stdin --exit-at-end --quiet <"$work/records" >>"$work/tracker.log" 2>&1 &
  tracker=$!
  pids+=("$tracker")
  exec 3>"$work/records"
}
stop_tracker() {
  exec 3>&-
  wait_end "$tracker" 20 || fail "the Windows feed did not end when its input did"
}

# UTF-8 on the Windows feed's input, Windows-1252 over DDE, UTF-8 again out
# of the bridge.
rec1='SNSATÉLITE-1 DN145950000 UP432150000 DMUSB UMLSB'
rec2='SNSATÉLITE-1 DN145951200 UP432148800 DMUSB UMLSB'
rec3='SNSO-50 DN436795000 UP145850000 DMFM UMFM'

if [ "$mode" = bus ]; then
  # The bridge first: no tracker yet.
  "$wine_run" "$prefix" "$bridge" --retry 200 >"$work/lines" 2>"$work/bridge.err" &
  bridge_pid=$!
  pids+=("$bridge_pid")
  dbus-run-session -- bash -c '
    "$1" --stdin --exit-at-end <"$2/lines" >"$2/published" 2>"$2/linfeed.err" &
    feed=$!
    # What a reader of the bus sees once the last record is out.
    if wait_for "$2/published" "$3" 120; then
      gdbus call --session --dest dde.Orbitron --object-path /Tracking \
        --method org.freedesktop.DBus.Properties.Get dde.Topic TrackingData >"$2/property" 2>&1
    fi
    status=0
    wait "$feed" || status=$?
    echo "$status" >"$2/linfeed.status"
    ' _ "$linfeed" "$work" "$rec3" &
  bus=$!
  pids+=("$bus")

  wait_for "$work/bridge.err" "trying again" 30 || { show bridge.err; fail "the bridge did not say it waits for the tracker"; }
  start_tracker
  wait_for "$work/bridge.err" "linked to Orbitron|Tracking TrackingData" 30 || { show bridge.err tracker.log; fail "the bridge did not link once the tracker came"; }
  echo "$rec1" >&3
  wait_for "$work/published" "$rec1" 20 || { show bridge.err published linfeed.err; fail "the first record did not reach the bus"; }
  echo "$rec2" >&3
  wait_for "$work/published" "$rec2" 20 || { show bridge.err published; fail "the second record did not reach the bus"; }

  # The tracker goes away and comes back.
  stop_tracker
  wait_for "$work/bridge.err" "the tracker ended the link" 20 || { show bridge.err; fail "the bridge did not notice the tracker's end"; }
  start_tracker
  echo "$rec3" >&3
  wait_for "$work/published" "$rec3" 30 || { show bridge.err published; fail "the record of the tracker's second run did not reach the bus"; }
  [ "$(grep -c -F 'linked to' "$work/bridge.err")" -eq 2 ] || { show bridge.err; fail "the bridge did not link exactly once more"; }

  wait_for "$work/property" "(" 30 || { show property; fail "the bus could not be read"; }

  # Ending the bridge ends the Linux feed behind it.
  kill -INT "$bridge_pid"
  wait_end "$bridge_pid" 20 || fail "the bridge did not end on Ctrl-C"
  wait_end "$bus" 20 || { show linfeed.err; fail "the Linux feed did not end with its input"; }
  stop_tracker

  # Whole, in order, nothing else but the empty value each run of the
  # Windows feed starts with.
  grep -v '^$' "$work/published" >"$work/records-seen" || true
  printf '%s\n' "$rec1" "$rec2" "$rec3" >"$work/records-sent"
  cmp -s "$work/records-sent" "$work/records-seen" || { show published; fail "the bus did not get exactly the records sent"; }
  [ "$(cat "$work/linfeed.status")" = 0 ] || { show linfeed.err; fail "the Linux feed failed"; }
  # gdbus quotes the value, with the tracker's line end the feed adds:
  # (<'SNSO-50 ...\r\n'>,)
  grep -q -F "<'$rec3\r\n'>" "$work/property" || { show property; fail "the bus property does not hold the last record"; }
  # É as UTF-8 (C3 89) and never as a lone Windows-1252 byte (C9).
  grep -q $'\xc3\x89' "$work/published" || fail "the name lost its É"
  if LC_ALL=C grep -q $'[\xc9]' <(sed $'s/\xc3\x89//g' "$work/published"); then fail "a Windows-1252 byte reached the bus"; fi
  echo "bridge: ok"
  show bridge.err
  exit 0
fi

[ "$mode" = pasotune ] || fail "unknown mode $mode"

# A program folder of our own: the engine and the pictures, no config.txt.
mkdir "$work/program"
cp "$linux/program/Velkor.exe" "$linux/program/cancel.ico" "$linux/program/up2.ico" "$work/program/"
cat >"$work/velkor.conf" <<CONF
radio = sim
transcript = $work/transcript.log
CONF

# A pass of a satellite with an accented name, ten times as fast.
"$wine_run" "$prefix" "$winfeed" --pass --name SATÉLITE-1 --modes USB,LSB --speed 10 --start 100 --quiet \
  >"$work/tracker.log" 2>&1 &
pids+=("$!")
"$wine_run" "$prefix" "$bridge" --retry 200 >"$work/lines" 2>"$work/bridge.err" &
bridge_pid=$!
pids+=("$bridge_pid")

# The Linux side in its own world: the engine's port and image name are
# private to it.
LC_ALL=C.UTF-8 VELKOR_CONF=$work/velkor.conf VELKOR_TRANSCRIPT=$work/transcript.log \
  "$private_world" dbus-run-session -- bash -c '
    "$1" --stdin --exit-at-end --quiet <"$2/lines" 2>"$2/linfeed.err" &
    "$3" --folder "$2/program" --seconds 6 --screenshot "$2/shot.png"
    ' _ "$linfeed" "$work" "$linux/program/pasotune-demo" >"$work/demo.out" 2>&1 &
demo=$!
pids+=("$demo")
status=0
wait_end "$demo" 90 || status=$?
[ "$status" = 0 ] || { show demo.out bridge.err linfeed.err; fail "the Linux pasotune did not follow and close (status $status)"; }

# The engine got the port, then the pass: uplink on MAIN, downlink on SUB.
for line in "SETPORT COM1" "SET FREQ MAIN 432.1" "SET MODE MAIN LSB" "SET FREQ SUB 145.9" "SET MODE SUB USB"; do
  grep -q -F "$line" "$work/transcript.log" || { show demo.out transcript.log; fail "the engine never got $line"; }
done
grep -q -F 'satellite "SATÉLITE-1"' "$work/demo.out" || { show demo.out; fail "the window does not show SATÉLITE-1"; }
grep -q -F "Puerto=COM1" "$work/program/config.txt" || fail "no config.txt written at the close"
# Its reader gone with the Linux side, the bridge ends at its next line.
wait_end "$bridge_pid" 20 || { show bridge.err; fail "the bridge did not end when its output was closed"; }
grep -q -F "standard output is closed" "$work/bridge.err" || { show bridge.err; fail "the bridge did not say why it ended"; }
echo "pasotune: ok"
show bridge.err
grep -F -e SETPORT -e "SET " "$work/transcript.log" | head -8
