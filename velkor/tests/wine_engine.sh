# shellcheck shell=bash disable=SC2154
# Sourced by the Wine engine tests: starts the Windows Velkor.exe in $dir and talks to it on
# fd 3. The test defines fail() and sets engine_pid= for its cleanup.

# Copies VELKOR_EXE and the DLLs beside it (Hamlib's, if any) into $dir, starts it there and
# connects to port 9000.
start_engine() {
  cp "$1" "$dir/Velkor.exe"
  find "$(dirname "$1")" -maxdepth 1 -name '*.dll' -exec cp {} "$dir/" \;
  # shellcheck disable=SC2086
  $WINE_RUN "$dir/Velkor.exe" 2>"$dir/stderr.txt" &
  engine_pid=$!
  for _ in $(seq 300); do
    if exec 3<>/dev/tcp/127.0.0.1/9000; then return 0; fi 2>/dev/null
    kill -0 "$engine_pid" 2>/dev/null || fail "Velkor.exe ended before it listened"
    sleep 0.2
  done
  fail "Velkor.exe never listened on port 9000"
}

send() { printf '%s\r\n' "$1" >&3 || fail "cannot send $1"; }

# One reply without its CR LF, or fails after $1 seconds. The engine speaks Windows-1252, so
# the caller sets LC_ALL=C.
reply() {
  local line
  IFS= read -r -t "$1" line <&3 || return 1
  printf '%s' "${line%$'\r'}"
}
