#!/bin/sh
# Runs a Windows program under Wine in private PID, mount and network namespaces, for tests
# that use port 9000. Wine's sockets belong to its wineserver, so the wineserver has to live in
# the namespaces too: the program gets a wineserver of its own on a throwaway copy-on-write view
# of the run's Wine prefix (a plain copy where overlays are not allowed), and all of it ends
# with the program.
#   wine-private.sh SOURCE_DIR PREFIX PROGRAM.exe [ARGS...]
#   wine-private.sh SOURCE_DIR PREFIX --script SCRIPT [ARGS...]
# A script runs with WINE_RUN set to the command that runs a .exe under that Wine.
set -e
source_dir=$1
prefix=$2
shift 2
if [ "${PASOTUNE_WINE_PRIVATE:-}" != inside ]; then
  export PASOTUNE_WINE_PRIVATE=inside
  exec "$source_dir/scripts/private-world.sh" "$0" "$source_dir" "$prefix" "$@"
fi

"$source_dir/cmake/wine-prefix.sh" "$prefix" --keep
own=$(mktemp -d "${TMPDIR:-/tmp}/pasotune-wine.XXXXXX")
view="$own/prefix"
mkdir -p "$view" "$own/upper" "$own/work"
cleanup() {
  WINEPREFIX="$view" wineserver -k 2>/dev/null || true
  umount "$view" 2>/dev/null || true
  rm -rf "$own"
}
trap cleanup EXIT
if ! mount -t overlay overlay -o "lowerdir=$prefix,upperdir=$own/upper,workdir=$own/work" \
  "$view" 2>/dev/null; then
  cp -a "$prefix/." "$view"
fi

WINE_RUN="$source_dir/cmake/wine-run.sh $view"
export WINE_RUN
unset PASOTUNE_WINEPREFIX
status=0
if [ "$1" = --script ]; then
  shift
  script=$1
  shift
  bash "$script" "$@" || status=$?
else
  $WINE_RUN "$@" || status=$?
fi
exit $status
