#!/bin/bash
# usage: deb_test.sh CPACK BUILD_DIR VERSION DEMO STANDIN GUIDE
# Builds the Debian package with CPack and checks what it declares and holds (the user's guide
# GUIDE as HTML with the pictures it shows, the manual pages, the licence); checks that
# this machine has everything it depends on; installs it with dpkg into a fresh root (the
# machine's own packages are never touched); starts the installed launcher offscreen as a
# new user, plain and with --gpredict; plays a pass from the installed feed through the
# installed program folder with the demo driver, with no velkor.conf and a TS-790 stand-in
# (STANDIN) on COM1's device, /dev/ttyS0, as a new owner's radio; and purges the package:
# only the user's data may be left.
# Starts programs that end every Velkor.exe they see: run it in a private world.
set -euo pipefail
cpack=$1 build=$2 version=$3 demo=$4 standin=$5 guide=$6

# Outside a world of its own it would end the user's running engine.
if [ -z "${PASOTUNE_IN_PRIVATE_WORLD:-}" ] && pgrep -u "$(id -u)" -x Velkor.exe >/dev/null; then
  echo "SKIP: an engine this test did not start is running, and there is no private world"
  exit 77
fi

# A session bus of its own, for the tracker feed.
if [ -z "${PASOTUNE_DEB_TEST_BUS:-}" ]; then
  PASOTUNE_DEB_TEST_BUS=1 exec dbus-run-session -- bash "$0" "$@"
fi

work=$(mktemp -d)
launched="" feed_pid="" radio_pid=""
cleanup() {
  for pid in $launched $feed_pid $radio_pid; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
# Waits, a tenth of a second at a time, until the command succeeds or SECONDS pass.
wait_for() {
  local seconds=$1
  shift
  local tries=$((seconds * 10))
  until "$@"; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || return 1
    sleep 0.1
  done
}
export PATH=$PATH:/usr/sbin:/sbin

echo "== the package"
arch=$(dpkg --print-architecture)
deb=$work/out/pasotune_${version}_${arch}.deb
"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack could not build the package"; }
[ -f "$deb" ] || { ls -R "$work/out"; fail "no $deb"; }
dpkg-deb -I "$deb"

[ "$(dpkg-deb -f "$deb" Package)" = pasotune ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6core6 libqt6gui6 libqt6widgets6 libqt6dbus6 libhamlib4 fonts-inconsolata dbus; do
  grep -Eq "(^|, )$needed( |,|$)" <<<"$depends" || fail "Depends lacks $needed: $depends"
done

# Every file, its mode and its owner; nothing else.
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $1, $2, $6 }' | sort >"$work/files"
sort >"$work/want" <<'FILES'
-rwxr-xr-x root/root ./usr/bin/pasotune
-rwxr-xr-x root/root ./usr/bin/pasotune-feed
-rwxr-xr-x root/root ./usr/lib/pasotune/Velkor.exe
-rwxr-xr-x root/root ./usr/lib/pasotune/pasotune
-rw-r--r-- root/root ./usr/lib/pasotune/cancel.ico
-rw-r--r-- root/root ./usr/lib/pasotune/up2.ico
-rw-r--r-- root/root ./usr/share/applications/pasotune.desktop
-rw-r--r-- root/root ./usr/share/icons/hicolor/128x128/apps/pasotune.png
-rw-r--r-- root/root ./usr/share/doc/pasotune/README.md.gz
-rw-r--r-- root/root ./usr/share/doc/pasotune/copyright
-rw-r--r-- root/root ./usr/share/doc/pasotune/tools/feed/README.md.gz
-rw-r--r-- root/root ./usr/share/doc/pasotune/velkor/README.md.gz
-rw-r--r-- root/root ./usr/share/doc/pasotune/guia.html
-rw-r--r-- root/root ./usr/share/man/man1/pasotune.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/pasotune-feed.1.gz
FILES
pictures=$(grep -o '!\[[^]]*\]([^)]*)' "$guide" | sed 's/.*(\(.*\))$/\1/' | xargs -n1 basename | sort -u)
[ -n "$pictures" ] || fail "the guide shows no pictures"
for picture in $pictures; do
  echo "-rw-r--r-- root/root ./usr/share/doc/pasotune/guia/$picture" >>"$work/want"
done
sort -o "$work/want" "$work/want"
diff -u "$work/want" "$work/files" || fail "the package holds other files than these"

echo "== its dependencies on this machine"
# The README's "apt install ./pasotune_...deb", simulated (no lock, no change): everything it
# needs is installed here already, so apt would install the package alone.
apt-get -s install --no-install-recommends "$deb" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "apt cannot install it here"; }
others=$(awk '$1 == "Inst" && $2 != "pasotune" { print $2 }' "$work/apt.log")
[ -z "$others" ] || fail "this machine lacks what the package depends on: $others"

echo "== installed into a fresh root"
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
: >"$root/var/lib/dpkg/status"
# The root holds no other package; the dependencies were checked against this machine above.
dpkg --root="$root" --log="$work/dpkg.log" --force-depends -i "$deb" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "dpkg could not install it"; }
grep -q '^Exec=pasotune$' "$root/usr/share/applications/pasotune.desktop" ||
  fail "the menu entry does not start the launcher"
grep -Pzq '\n\[Desktop Action gpredict\]\nName=Pasotune con Gpredict\nExec=pasotune --gpredict\n$' \
  "$root/usr/share/applications/pasotune.desktop" || fail "no action for Gpredict"
doc=$root/usr/share/doc/pasotune
grep -q '<h1 id="guía-de-pasotune">Guía de Pasotune</h1>' "$doc/guia.html" || fail "the guide is not HTML in Spanish"
for picture in $pictures; do
  grep -q "<img src=\"guia/$picture\"" "$doc/guia.html" || fail "the guide does not show guia/$picture"
done
grep -q '^License: GPL-3+$' "$doc/copyright" && grep -q /usr/share/common-licenses/GPL-3 "$doc/copyright" ||
  fail "the copyright file does not give the GPL version 3 or later"
for page in pasotune pasotune-feed; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$page.1.gz" 2>&1 >"$work/$page.txt")
  [ -z "$warnings" ] || fail "man $page: $warnings"
  grep -qE "^ *$page +- " "$work/$page.txt" || fail "man $page does not name it"
done

echo "== the installed launcher, as a new user"
export HOME=$work/home
unset XDG_DATA_HOME VELKOR_CONF VELKOR_TRANSCRIPT
export QT_QPA_PLATFORM=offscreen
data=$HOME/.local/share/pasotune
mkdir -p "$HOME"
"$root/usr/bin/pasotune" >"$work/launcher.log" 2>&1 &
launched=$!
# The window's load writes config.txt beside the program: the copy in the user's folder.
running_copy() { [ "$(readlink "/proc/$launched/exe")" = "$data/pasotune" ] && [ -f "$data/config.txt" ]; }
wait_for 30 running_copy || { cat "$work/launcher.log"; fail "the launcher did not start the program in $data"; }
for file in pasotune Velkor.exe cancel.ico up2.ico; do
  cmp -s "$root/usr/lib/pasotune/$file" "$data/$file" || fail "$data/$file is not the installed $file"
done
[ ! -e "$root/usr/lib/pasotune/config.txt" ] || fail "the program wrote into the installed folder"
# The exit question waits for a click nobody can make offscreen.
kill -KILL "$launched"
wait "$launched" 2>/dev/null || true
launched=""

echo "== pasotune --gpredict: the installed feed answers, then the program; the feed ends with it"
"$root/usr/bin/pasotune" --gpredict 4533 >"$work/gpredict.log" 2>&1 &
launched=$!
program=$(wait_for 30 pgrep -P "$launched" -f '^\./pasotune$') || { cat "$work/gpredict.log"; fail "no program"; }
own_feed=$(pgrep -P "$launched" -x pasotune-feed) && grep -q "^answering .*:4533" "$work/gpredict.log" ||
  fail "the feed did not answer first: $(cat "$work/gpredict.log")"
kill -KILL "$program"
status=0 && wait "$launched" || status=$?
launched=""
[ "$status" = 137 ] && ! kill -0 "$own_feed" 2>/dev/null || fail "status $status; the feed must end with the program"

echo "== a pass followed by a TS-790 on COM1, with no file edited"
# The radio's device, in this private world only: a stand-in behind a pseudo-terminal bound
# over /dev/ttyS0, where the engine's defaults look for COM1.
[ -e /dev/ttyS0 ] || fail "this machine has no /dev/ttyS0 to put the radio on"
[ ! -e "$data/velkor.conf" ] || fail "velkor.conf was there before the engine ran"
exec 5< <("$standin" "$work/radio.log")
radio_pid=$!
read -r -t 10 pty <&5 || fail "the TS-790 stand-in gave no terminal"
mount --bind "$pty" /dev/ttyS0 || fail "cannot put the stand-in on /dev/ttyS0"
feed=$root/usr/bin/pasotune-feed
"$feed" --pass --name SO-50 --modes USB,LSB --speed 5 --loop --quiet &
feed_pid=$!
export VELKOR_TRANSCRIPT=$work/transcript.log
"$demo" --folder "$data" --seconds 8 --screenshot "$work/shot.png" >"$work/demo.log" 2>&1 ||
  { cat "$work/demo.log"; fail "the demo driver failed"; }
cat "$work/demo.log"
grep -q '^\[demo\] program ended$' "$work/demo.log" || fail "the program did not end by its close"
grep -q '^  Velkor READY: Kenwood TS-790 en COM1 (/dev/ttyS0, 4800 baudios)$' "$work/demo.log" ||
  fail "the window does not name the radio and its device"
grep -q '^radio = ts790$' "$data/velkor.conf" || fail "the engine that ran was not the installed copy"
# Both bands tuned more than once: the pass was followed.
[ "$(grep -c '^FA00' "$work/radio.log")" -ge 2 ] && [ "$(grep -c '^FB00' "$work/radio.log")" -ge 2 ] ||
  fail "the radio was not tuned along the pass: $(tr '\n' ' ' <"$work/radio.log")"
! grep -q '^  \(ERROR\|NOT DONE\)' "$work/demo.log" || fail "the engine refused something"
grep -q $'^Puerto=COM1\r$' "$data/config.txt" || fail "settings not saved at the close"
for exe in /proc/[0-9]*/exe; do
  [ "$(readlink "$exe" 2>/dev/null)" != "$data/Velkor.exe" ] || fail "the engine still runs"
done

echo "== purged"
dpkg --root="$root" --log="$work/dpkg.log" --purge pasotune >"$work/purge.log" 2>&1 ||
  { cat "$work/purge.log"; fail "dpkg could not remove it"; }
left=$(find "$root" -mindepth 1 -not -path "$root/var" -not -path "$root/var/lib" -not -path "$root/var/lib/dpkg*")
[ -z "$left" ] || fail "left behind: $left"
for file in config.txt velkor.conf; do
  [ -f "$data/$file" ] || fail "the user's $file went with the package"
done
echo ok
