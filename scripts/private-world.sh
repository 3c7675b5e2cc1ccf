#!/bin/sh
# Runs a command in private PID, mount and network namespaces, with /proc
# mounted afresh and a loopback of its own: the program's engine on port 9000
# and its ending of every "Velkor.exe" then see only what this command starts.
# As root that needs nothing more; otherwise it takes an unprivileged user
# namespace. Where the machine allows neither it runs the command as it is,
# and says so; CTest's resource lock then keeps such tests apart.
#   private-world.sh --check     exits 0 when namespaces can be had
#   private-world.sh COMMAND [ARGS...]
set -e
# Tests that end engines by name look for this to know they are alone.
inside='export PASOTUNE_IN_PRIVATE_WORLD=1; ip link set lo up 2>/dev/null || { command -v ip >/dev/null || { echo "private-world: no ip command (iproute2) to bring up the loopback" >&2; exit 1; }; }; "$@"'
try() { unshare "$@" --fork --pid --mount --net --mount-proc true >/dev/null 2>&1; }
if try; then
  flags=""
elif try --user --map-root-user; then
  flags="--user --map-root-user"
else
  [ "${1:-}" = --check ] && exit 1
  echo "private-world: no namespaces here, running in the machine's own" >&2
  exec "$@"
fi
[ "${1:-}" = --check ] && exit 0
# shellcheck disable=SC2086
# sh stays as the namespace's first process, so the command is an ordinary
# one (signals, reaping); everything in the namespace ends with it, and it
# ends with us.
exec unshare $flags --fork --kill-child --pid --mount --net --mount-proc sh -c "$inside" sh "$@"
