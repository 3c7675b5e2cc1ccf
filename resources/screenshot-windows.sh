#!/bin/sh
# A screenshot of the Windows program's window, under Wine on a virtual X
# server, for the README: pasotune-feed.exe publishes a pass over DDE, the
# program starts from a copy of its folder, Conectar is clicked, and the
# window is grabbed once the engine has tuned the radio (the simulated one).
#   screenshot-windows.sh [BUILD_DIR] [OUTPUT.png]
# BUILD_DIR is the Windows build (default build-windows), with program/ and
# bin/pasotune-feed.exe. Needs Xvfb, wine, xdotool and ImageMagick's
# import; fonts-wine draws the caption's buttons. Everything runs in private
# namespaces where the machine allows, so the engine's port 9000 and the
# program's ending of every Velkor.exe touch nothing of anyone else's.
set -eu

# Runs on the virtual X server: a prefix of its own with the X11 driver, and
# Wine drawing the window's frame itself, as no window manager runs there.
if [ "${1:-}" = --on-screen ]; then
  work=$2 feed=$3 out=$4
  export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  wineboot -i >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  wine "$feed" --pass --quiet >/dev/null 2>&1 &
  sleep 2
  (cd "$work/program" && exec wine pasotune.exe >/dev/null 2>&1) &
  id=$(timeout 60 xdotool search --sync --name "Pasotune 1.0" | head -n 1) || true
  [ -n "$id" ] || { echo "$0: the window never showed" >&2; wineserver -k; exit 1; }
  # The start-up timer links the tracker after 2 s; then Conectar, whose
  # centre lies at (68, 92) in the client area, below Wine's 3 px border and
  # 19 px caption.
  sleep 3
  xdotool mousemove --window "$id" 71 114 click 1
  sleep "${FOLLOW_SECONDS:-6}"
  import -window "$id" "$out"
  wineserver -k
  exit 0
fi

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build-windows}" && pwd)
out=$(realpath -m "${2:-pasotune-windows.png}")
for tool in Xvfb wine xdotool import; do
  command -v "$tool" >/dev/null 2>&1 || {
    echo "$0: needs $tool (apt-get install xvfb wine xdotool imagemagick fonts-wine)" >&2
    exit 1
  }
done
[ -f "$build/program/pasotune.exe" ] && [ -f "$build/bin/pasotune-feed.exe" ] || {
  echo "$0: no Windows build in $build (cmake --workflow --preset windows)" >&2
  exit 1
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The program writes config.txt beside itself: a copy, not the build's.
cp -r "$build/program" "$work/program"

"$here/../scripts/private-world.sh" "$here/../scripts/on-own-display.sh" --screen 1024x768x24 \
  "$here/$(basename "$0")" --on-screen "$work" "$build/bin/pasotune-feed.exe" "$out"
echo "saved $out"
