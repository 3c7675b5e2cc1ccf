#!/bin/sh
# A screenshot of the real window under a virtual X server, for the README.
# usage: screenshot.sh PROGRAM_DIR [OUTPUT.png]
# With ImageMagick's import the window is grabbed from the X server shortly
# after it shows (WAIT seconds, default 1.5: before the start-up timer asks
# for the engine). Without it, pasotune-demo runs under xcb, connects, follows
# for FOLLOW_SECONDS (default 5) and grabs the window itself.
set -eu
[ $# -ge 1 ] || { echo "usage: $0 PROGRAM_DIR [OUTPUT.png]" >&2; exit 2; }
dir=$(cd "$1" && pwd)
out=$(realpath -m "${2:-pasotune.png}")
screen="-screen 0 1024x768x24"

if command -v import >/dev/null 2>&1; then
  xvfb-run -a -s "$screen" sh -c '
    cd "$1"
    QT_QPA_PLATFORM=xcb ./pasotune & pid=$!
    sleep "$3"
    import -window "Pasotune 1.0" "$2"
    kill "$pid"' sh "$dir" "$out" "${WAIT:-1.5}"
else
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "$screen" \
    "$dir/pasotune-demo" --folder "$dir" --seconds "${FOLLOW_SECONDS:-5}" --screenshot "$out"
fi
echo "saved $out"
