#!/usr/bin/env bash
# Runs Pasotune on its demo: a synthetic satellite pass published on the
# session bus, and the engine on its simulated TS-790 (or on Hamlib's dummy
# rig with PASOTUNE_DEMO_RADIO=dummy). With a display the window opens and
# you click Conectar; without one the demo driver plays the user offscreen.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${PASOTUNE_BUILD:-$here/build}
program=$build/program

# A private session bus when there is none.
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
  exec dbus-run-session -- "$0" "$@"
fi

work=$(mktemp -d)
feed_pid=""
cleanup() {
  [ -n "$feed_pid" ] && kill "$feed_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The engine's settings for the demo, without touching the program folder's own.
cat > "$work/velkor.conf" <<CONF
radio = ${PASOTUNE_DEMO_RADIO:-sim}
transcript = $work/transcript.log
CONF
export VELKOR_CONF=$work/velkor.conf
export VELKOR_TRANSCRIPT=$work/transcript.log

"$build/bin/pasotune-feed" --pass --name SO-50 --modes FM,FM --speed "${PASOTUNE_DEMO_SPEED:-5}" --loop --quiet &
feed_pid=$!
sleep 0.5

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Pasotune is starting; click Conectar to follow the pass."
  "$program/pasotune"
else
  echo "No display: the demo driver runs the program offscreen and clicks Conectar itself."
  "$program/pasotune-demo" --seconds "${PASOTUNE_DEMO_SECONDS:-20}" \
    --screenshot "${PASOTUNE_DEMO_SCREENSHOT:-$here/pasotune-demo.png}"
fi
