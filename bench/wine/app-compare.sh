#!/bin/sh
# The whole program on Linux and under Wine, measured back to back on the
# same machine: start to the window shown, idle CPU, a million log lines.
#   bench/wine/app-compare.sh [LINUX_BUILD] [WINDOWS_BUILD]
# LINUX_BUILD holds bin/pasotune-app-bench (default build-bench), WINDOWS_BUILD
# bin/pasotune-wine-app-bench.exe (default build-windows); the README says how
# to build each. The Wine half runs in private namespaces with a prefix of
# its own, so its wineserver's CPU can be told apart.
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)
linux=$(cd "${1:-build-bench}" && pwd)
windows=$(cd "${2:-build-windows}" && pwd)
runs=${RUNS:-20} seconds=${IDLE_SECONDS:-60} lines=${LINES:-1000000}

on_linux() {
  QT_QPA_PLATFORM=offscreen dbus-run-session -- "$linux/bin/pasotune-app-bench" "$@" 2>/dev/null
}
on_wine() {
  "$top/scripts/private-world.sh" "$top/cmake/wine-run.sh" "$windows/wine-bench" \
    "$windows/bin/pasotune-wine-app-bench.exe" "$@" 2>/dev/null
}
for what in "startup $runs" "idle $seconds" "log $lines"; do
  # shellcheck disable=SC2086
  printf 'Linux: %s\n' "$(on_linux $what)"
  # shellcheck disable=SC2086
  printf 'Wine:  %s\n' "$(on_wine $what)"
done
