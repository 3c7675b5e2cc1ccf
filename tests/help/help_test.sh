#!/bin/bash
# usage: help_test.sh RUNNER PROGRAM...
# Every program answers --help at once with its usage on standard output and status 0, and
# touches no file: a copy of it (with the DLLs beside it) alone in a folder of its own, with
# HOME (Linux) and the working folder there too, leaves that folder as it was. RUNNER runs
# each program (the Wine runner), or is - for none.
set -uo pipefail
runner=$1
shift
[ "$runner" = - ] && runner=""
failed=0
for program in "$@"; do
  name=$(basename "$program")
  work=$(mktemp -d)
  err=$(mktemp)
  mkdir -p "$work/home" "$work/bin"
  cp "$program" "$work/bin/"
  chmod +x "$work/bin/$name"
  for dll in "$(dirname "$program")"/*.dll; do [ -e "$dll" ] && cp "$dll" "$work/bin/"; done
  before=$(cd "$work" && find . -exec stat -c '%n %s %Y' {} + | sort)
  # Wine keeps its own files under the user's folders, so a Windows program's home is Wine's.
  home=(HOME="$work/home" XDG_DATA_HOME="$work/home/data" XDG_CONFIG_HOME="$work/home/config")
  [ -z "$runner" ] || home=()
  out=$(cd "$work/home" && env "${home[@]}" timeout 30 $runner "$work/bin/$name" --help 2>"$err")
  status=$?
  after=$(cd "$work" && find . -exec stat -c '%n %s %Y' {} + | sort)
  why=""
  [ "$status" = 0 ] || why="status $status"
  grep -qiE '^(uso|usage):' <<<"$out" || why="$why; no usage on standard output"
  [ "$before" = "$after" ] || why="$why; files changed: $(diff <(echo "$before") <(echo "$after") | grep '^[<>]' | tr '\n' ' ')"
  if [ -n "$why" ]; then
    echo "FAILED: $name --help: ${why#; }"
    echo "--- its output:"; echo "$out"; cat "$err"
    failed=1
  else
    echo "ok: $name --help"
  fi
  rm -rf "$work" "$err"
done
exit $failed
