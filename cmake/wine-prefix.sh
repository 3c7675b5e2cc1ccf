#!/bin/sh
# A Wine prefix with the null graphics driver, so nothing needs a display.
#   wine-prefix.sh PREFIX            make it afresh (an old one is thrown away)
#   wine-prefix.sh PREFIX --keep     make it only if it is not there
#   wine-prefix.sh PREFIX --stop     end its wineserver and the programs in it
#   wine-prefix.sh PREFIX --remove   end them and delete the prefix
set -e
prefix=$1
mode=${2:-}
[ -n "$prefix" ] || { echo "usage: $0 PREFIX [--keep|--stop|--remove]" >&2; exit 2; }
case "$prefix" in /*) ;; *) prefix="$(pwd)/$prefix" ;; esac
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# The fast path for every test: the prefix is ready.
[ "$mode" = --keep ] && [ -f "$prefix/.pasotune-ready" ] && exit 0
mkdir -p "$(dirname "$prefix")"
# One maker at a time (tests discovered in parallel).
exec 9>"$prefix.lock"
flock 9
stop() { [ -d "$prefix" ] && wineserver -k 2>/dev/null || true; }
case "$mode" in
  --stop) stop; exit 0 ;;
  --remove) stop; rm -rf "$prefix"; exit 0 ;;
  --keep) [ -f "$prefix/.pasotune-ready" ] && exit 0 ;;
esac
stop
rm -rf "$prefix"
wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
# Wine reads the driver when it starts: let this wineserver end first.
wineserver -w
touch "$prefix/.pasotune-ready"
