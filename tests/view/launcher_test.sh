#!/bin/sh
# usage: launcher_test.sh LAUNCHER CASE
# Installs the launcher beside a stand-in program and runs it against a user
# data folder prepared as CASE says:
#   copies          runs twice, with an update between, keeping the user's settings
#   planted-link    a link at the old fixed copy name leads to a file of the user's
#   entry-is-folder a folder, and a FIFO, where program files go
#   link            the data folder is a symbolic link
#   file            the data folder is a plain file
#   foreign         the data folder belongs to another user (needs root)
#   open            others may write in the data folder
#   shared-base     XDG_DATA_HOME is a folder others may write in
#   shared-above    XDG_DATA_HOME lies in a folder others may write in, without the sticky bit
#   sticky-above    XDG_DATA_HOME lies in a sticky shared folder, like /tmp: accepted
#   gpredict        --gpredict: the feed answers before the program starts; it ends when
#                   the program is ended, and with the program when the launcher is
#   gpredict-refused bad ports and arguments; a feed that cannot answer
#   gpredict-fails  what keeps the feed from answering is said in a message box;
#                   a feed found through . or an empty entry of PATH runs
set -eu
launcher=$1 case=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
chmod 755 "$root"
shipped="$root/prefix/lib/pasotune"
data="$root/data"
mkdir -p "$root/prefix/bin" "$shipped" "$data"
cp "$launcher" "$root/prefix/bin/pasotune"
# The program notes the feed it found; the feed says it answers (not on port 9).
cat > "$shipped/pasotune" << EOF
#!/bin/sh
[ "\$1" != --aviso ] || { echo "\$2: \$3" | tr '\n' ' ' > "$root/box.txt"; exit 0; }
pwd > ran-in.txt
cat "$root/feed.txt" > saw-feed.txt 2> /dev/null || :
[ -z "\${HANG:-}" ] || { echo \$\$ > "$root/started" && exec sleep 60; }
EOF
cat > "$root/prefix/bin/pasotune-feed" << EOF
#!/bin/sh
echo "\$\$ \$*" > "$root/feed.txt"
[ "\$2" != 9 ] && [ -z "\${FEED_FAILS:-}" ] || exit 2
[ -z "\${FEED_MUTE:-}" ] || exec sleep 60
echo "answering Gpredict's radio on 127.0.0.1:\$2"
exec sleep 60
EOF
chmod +x "$shipped/pasotune" "$root/prefix/bin/pasotune-feed"
echo v1 > "$shipped/up2.ico"
echo engine > "$shipped/Velkor.exe"
echo shipped > "$shipped/config.txt"

fail() {
  echo "FAIL: $case: $*"
  exit 1
}
check() {
  [ "$1" = "$2" ] || fail "$3: got '$1', want '$2'"
}
# Runs the launcher with XDG_DATA_HOME=$1 and the words of $ARGS, under a time
# limit; its status and messages go to $root/status and $root/err.
launch() {
  set +e
  # shellcheck disable=SC2086
  DISPLAY=:99 XDG_DATA_HOME="$1" timeout 20 sh "$root/prefix/bin/pasotune" ${ARGS:-} 2> "$root/err" > /dev/null
  echo $? > "$root/status"
  set -e
}
ran_in() {
  cat "$1/pasotune/ran-in.txt" 2> /dev/null || echo "(did not run)"
}
# Refused: a clear line saying why, nothing copied or run.
refused() {
  check "$(cat "$root/status")" 1 "exit status"
  grep -q "^pasotune: no se usa .*$1" "$root/err" || fail "message: $(cat "$root/err")"
}
leftovers() {
  find "$1" -name '.*.??????' | wc -l
}
nobody=$(id -u nobody 2> /dev/null || echo 65534)

case $case in
  copies)
    mkdir "$data/pasotune"
    echo mine > "$data/pasotune/config.txt"
    launch "$data"
    check "$(ran_in "$data")" "$data/pasotune" "runs in the user's folder"
    check "$(cat "$data/pasotune/up2.ico")" v1 "copies the program's files"
    check "$(cat "$data/pasotune/config.txt")" mine "keeps the user's settings"
    echo v2 > "$shipped/up2.ico"
    launch "$data"
    check "$(cat "$data/pasotune/up2.ico")" v2 "copies an updated file again"
    check "$(leftovers "$data")" 0 "leaves no partial copies"
    ;;
  planted-link)
    mkdir "$data/pasotune"
    echo "the user's letter" > "$root/letter.txt"
    ln -s "$root/letter.txt" "$data/pasotune/Velkor.exe.new"
    ln -s "$root/letter.txt" "$data/pasotune/pasotune.new"
    launch "$data"
    check "$(cat "$root/letter.txt")" "the user's letter" "a planted link is never written through"
    check "$(cat "$data/pasotune/Velkor.exe")" engine "copies the engine"
    check "$(ran_in "$data")" "$data/pasotune" "runs"
    ;;
  entry-is-folder)
    mkdir -p "$data/pasotune/Velkor.exe/inside"
    mkfifo "$data/pasotune/up2.ico"
    launch "$data"
    check "$(cat "$root/status")" 0 "exit status"
    check "$(cat "$data/pasotune/Velkor.exe")" engine "a folder in the way is replaced"
    check "$(cat "$data/pasotune/up2.ico")" v1 "a FIFO in the way is replaced"
    check "$(ran_in "$data")" "$data/pasotune" "runs"
    ;;
  link)
    mkdir "$root/elsewhere"
    ln -s "$root/elsewhere" "$data/pasotune"
    launch "$data"
    refused "es un enlace simbólico"
    check "$(ls -A "$root/elsewhere")" "" "nothing copied through the link"
    ;;
  file)
    echo "not a folder" > "$data/pasotune"
    launch "$data"
    refused "no es una carpeta"
    check "$(cat "$data/pasotune")" "not a folder" "the file is left alone"
    ;;
  foreign)
    [ "$(id -u)" = 0 ] || { echo "skipped: needs root to own a folder as another user"; exit 0; }
    mkdir "$data/pasotune"
    chown "$nobody" "$data/pasotune"
    launch "$data"
    refused "pertenece al usuario"
    check "$(ls -A "$data/pasotune")" "" "nothing copied"
    ;;
  open)
    mkdir "$data/pasotune"
    chmod 777 "$data/pasotune"
    launch "$data"
    refused "otros usuarios pueden escribir en $data/pasotune"
    check "$(ls -A "$data/pasotune")" "" "nothing copied"
    ;;
  shared-base)
    chmod 1777 "$data"
    launch "$data"
    refused "otros usuarios pueden escribir en $data"
    ;;
  shared-above)
    mkdir "$data/mine"
    chmod 777 "$data"
    launch "$data/mine"
    refused "otros usuarios pueden escribir en $data"
    ;;
  sticky-above)
    mkdir "$data/mine"
    chmod 1777 "$data"
    launch "$data/mine"
    check "$(cat "$root/status")" 0 "exit status"
    check "$(ran_in "$data/mine")" "$data/mine/pasotune" "runs"
    check "$(stat -c %a "$data/mine/pasotune")" 700 "a new data folder is the user's alone"
    ;;
  gpredict)
    mkfifo "$root/started"
    for ended in program launcher; do
      HANG=1 XDG_DATA_HOME="$data" sh "$root/prefix/bin/pasotune" --gpredict 4533 > /dev/null &
      launcher=$!
      program=$(timeout 20 head -n 1 "$root/started") || fail "the program did not start"
      check "$(cut -d' ' -f2- "$data/pasotune/saw-feed.txt")" "--gpredict 4533" "the feed answers first"
      if [ $ended = program ]; then kill "$program"; else kill "$launcher"; fi
      status=0 && wait "$launcher" || status=$?
      check "$status" 143 "exit status when the $ended is ended"
      feed=$(cut -d' ' -f1 "$root/feed.txt")
      ! kill -0 "$program" 2> /dev/null && ! kill -0 "$feed" 2> /dev/null || fail "the $ended left a process"
    done
    check "$(leftovers "$data")" 0 "leaves no FIFO"
    ;;
  gpredict-refused)
    for ARGS in "--gpredict 0" "--gpredict 65536" "--gpredict 04532" --gpredict=45x2 \
      "--gpredict 4532 4533" --gpredict= --gpredik; do
      launch "$data"
      [ "$(cat "$root/status")" = 2 ] && grep -q "^pasotune: ." "$root/err" || fail "$ARGS: $(cat "$root/err")"
    done
    [ ! -e "$root/feed.txt" ] || fail "a feed was started for bad arguments"
    ARGS="--gpredict 9" launch "$data"
    check "$(cat "$root/status")" 1 "exit status when the feed cannot answer"
    grep -q "pasotune-feed terminó (estado 2)" "$root/err" || fail "message: $(cat "$root/err")"
    check "$(ran_in "$data")" "(did not run)" "no program without its feed"
    grep -q "^Pasotune con Gpredict: El programa pasotune-feed terminó (estado 2)" "$root/box.txt" || fail "no box"
    ;;
  gpredict-fails)
    port=$((20000 + $$ % 30000))
    rigctld -m 1 -T 127.0.0.1 -t $port 2> /dev/null &
    trap 'kill $!; rm -rf "$root"' EXIT
    timeout 5 sh -c "until ss -Hltn 'sport = :$port' | grep -q .; do sleep 0.1; done"
    mv "$root/prefix/bin/pasotune-feed" "$root"
    # How, PATH, FEED_FAILS, FEED_MUTE, and the box's start (none: the program runs).
    while IFS=' ' read -r how path fails mute want; do
      rm -f "$root/box.txt" "$root/feed.txt" "$data/pasotune/ran-in.txt"
      (cd "$root" && PATH=$path FEED_FAILS=${fails#-} FEED_MUTE=${mute#-} ARGS="--gpredict $port" launch "$data")
      if [ -z "$want" ]; then
        check "$(ran_in "$data"):$(cut -d' ' -f2- "$root/feed.txt")" "$data/pasotune:--gpredict $port" "$how: runs"
        continue
      fi
      grep -q "^Pasotune con Gpredict: $want" "$root/box.txt" 2> /dev/null || fail "$how: box $(cat "$root/box.txt")"
      check "$(cat "$root/status"):$(ran_in "$data")" "1:(did not run)" "$how: status, program"
      ! kill -0 "$(cut -d' ' -f1 "$root/feed.txt" 2> /dev/null)" 2> /dev/null || fail "$how: the feed lives"
    done << EOF
taken $root:$PATH 1 - El puerto $port de Gpredict ya está en uso: lo tiene rigctld (proceso $!).*pasotune --gpredict $((port + 1))
missing $PATH - - Falta pasotune-feed
mute $root:$PATH - 1 El programa pasotune-feed no respondió a Gpredict en 10 s
dot .:$PATH - -
empty $PATH: - -
EOF
    ;;
  *)
    echo "unknown case $case"
    exit 2
    ;;
esac
echo ok
