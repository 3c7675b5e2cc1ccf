#!/bin/sh
# usage: on-own-display.sh [--screen WxHxDEPTH] COMMAND [ARGS...]
# Runs a command on an X display of its own (Xvfb, 1280x1024x24 unless told)
# and ends that display, waiting for it, before returning. In a private PID
# namespace an X server still up when the namespace ends is killed outright
# and leaves its lock and socket in /tmp, so xvfb-run (which does not wait)
# will not do there.
set -eu
screen=1280x1024x24
if [ "${1:-}" = --screen ]; then
  screen=$2
  shift 2
fi
work=$(mktemp -d)
xvfb=""
end() {
  [ -z "$xvfb" ] || { kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; }
  rm -rf "$work"
}
trap end EXIT
trap 'exit 1' INT TERM
n=99
shown=""
# A number another run takes at the same moment fails the start: the next one.
for try in 1 2 3 4 5; do
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  rm -f "$work/ready"
  mkfifo "$work/ready"
  # Xvfb writes the display's number to fd 3 once it takes clients. Without
  # -noreset it starts afresh whenever its last client leaves, and a client
  # connecting just then is refused: one xdotool ending as Gpredict starts.
  Xvfb ":$n" -screen 0 "$screen" -nolisten tcp -noreset -displayfd 3 3>"$work/ready" 2>"$work/log" &
  xvfb=$!
  read -r shown <"$work/ready" && break
  wait "$xvfb" 2>/dev/null || true
  xvfb="" shown=""
  n=$((n + 1))
done
if [ -z "$shown" ]; then
  cat "$work/log" >&2
  echo "on-own-display: Xvfb did not start" >&2
  exit 1
fi
rc=0
DISPLAY=":$shown" "$@" || rc=$?
exit "$rc"
