#!/bin/sh
# Runs a Windows program under Wine with no display:
#   wine-run.sh PREFIX PROGRAM.exe [ARGS...]
# in the Wine prefix PREFIX (PASOTUNE_WINEPREFIX overrides it), made with the
# null graphics driver if it is not there yet. A test run makes it afresh
# first (wine-prefix.sh, a CTest fixture).
set -e
here=$(cd "$(dirname "$0")" && pwd)
prefix=${PASOTUNE_WINEPREFIX:-$1}
shift
# Wine takes only an absolute prefix.
case "$prefix" in /*) ;; *) prefix="$(pwd)/$prefix" ;; esac
"$here/wine-prefix.sh" "$prefix" --keep
export WINEPREFIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY WAYLAND_DISPLAY
# Debian's wineserver quits the moment its last program ends, so a program
# started just then meets a server on its way out ("recvmsg: Connection
# reset by peer"). One that lingers 30 s spans a whole run of short tests;
# where one is already up this does nothing.
wineserver -p30 </dev/null >/dev/null 2>&1 || true
exec wine "$@"
