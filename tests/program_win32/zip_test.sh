#!/usr/bin/env bash
# The Windows download: the build's program folder is whole, CPack's zip
# holds exactly that folder, the README, the user's guide GUIDE as HTML with
# the pictures it shows, and the licences, and the program unzipped on its
# own starts under a Wine prefix made afresh for it, with no other files:
# it writes config.txt with the defaults and stays up until it is ended.
# A build with Hamlib ships its DLL stripped, with its licence, and every DLL
# the programs need.
# usage: zip_test.sh BUILD_DIR WINE_PREFIX_SH OBJDUMP hamlib|no-hamlib GUIDE
set -euo pipefail
build=$1 wine_prefix=$2 objdump=$3 hamlib=$4 guide=$5
program=$build/program
name=pasotune-1.0-win64

fail() {
  echo "FAILED: $*"
  exit 1
}

work=$(mktemp -d)
pid=""
cleanup() {
  # Only what this test started: the program by its pid, then the
  # wineserver of the prefix made for it.
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null || true
  "$wine_prefix" "$work/prefix" --remove >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# Waits, at most SECONDS, until FILE holds a line with TEXT.
wait_for() {
  timeout "$3" bash -c 'grep -q -m1 -F -- "$2" < <(tail -n +1 -F --pid=$$ "$1" 2>/dev/null)' _ "$1" "$2"
}

# The program folder of the build.
shipped=(pasotune.exe Velkor.exe pasotune-feed.exe pasotune-gpredict.exe cancel.ico up2.ico)
for f in "${shipped[@]}"; do
  [ -f "$program/$f" ] || fail "the program folder $program has no $f"
done
if [ "$hamlib" = hamlib ]; then
  for f in libhamlib-4.dll libhamlib-4-COPYING.txt rigctld.exe; do
    [ -f "$program/$f" ] || fail "the build has Hamlib, but the program folder has no $f"
  done
  # Hamlib's rigctld, which the engine runs for every radio but the TS-790.
  shipped+=(rigctld.exe)
fi
# DLLs beside the engine (a Windows Hamlib's) and their licences go with it.
for f in "$program"/*.dll "$program"/*-COPYING.txt; do
  [ -e "$f" ] && shipped+=("$(basename "$f")")
done

# The zip: that folder, the README, the guide and the licences, nothing else.
pictures=$(grep -o '!\[[^]]*\]([^)]*)' "$guide" | sed 's/.*(\(.*\))$/\1/' | xargs -n1 basename | sort -u)
[ -n "$pictures" ] || fail "the guide shows no pictures"
documents=(README.txt guia.html COPYING.txt mingw-w64-runtime-COPYING.txt)
for picture in $pictures; do documents+=("guia/$picture"); done
cpack --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack failed"; }
zip=$work/package/$name.zip
[ -f "$zip" ] || { ls -R "$work/package"; fail "no $name.zip"; }
printf "$name/%s\n" "${shipped[@]}" "${documents[@]}" | sort >"$work/expected"
unzip -Z1 "$zip" | grep -v '/$' | sort >"$work/listed"
diff "$work/expected" "$work/listed" || fail "the zip does not hold exactly the program folder and its documents"

unzip -q "$zip" -d "$work/unzipped"
folder=$work/unzipped/$name
for f in cancel.ico up2.ico; do
  cmp -s "$program/$f" "$folder/$f" || fail "$f in the zip differs from the program folder's"
done
readme=$folder/README.txt
[ "$(head -c 3 "$readme" | od -An -tx1 | tr -d ' ')" = efbbbf ] || fail "README.txt has no UTF-8 byte-order mark"
if grep -q $'[^\r]$' <(tail -c +4 "$readme"); then fail "README.txt has a line without CR LF"; fi
for text in MyDDE Rotor/Radio TrackingData velkor.conf "radio = rigctld" Gpredict pasotune-gpredict.exe \
  Descomprima Unzip; do
  grep -q -F "$text" "$readme" || fail "README.txt does not mention $text"
done

for picture in $pictures; do
  grep -q "<img src=\"guia/$picture\"" "$folder/guia.html" || fail "guia.html does not show guia/$picture"
done
grep -q "guia.html" "$readme" || fail "README.txt does not point to the guide"
for text in "GNU GENERAL PUBLIC LICENSE" "Version 3, 29 June 2007"; do
  grep -q -F "$text" "$folder/COPYING.txt" || fail "COPYING.txt is not the GPL version 3"
done
grep -q -F "GCC Runtime Library Exception" "$folder/mingw-w64-runtime-COPYING.txt" ||
  fail "the runtime linked into the programs comes without its notices"

if [ "$hamlib" = hamlib ]; then
  "$objdump" -p "$folder/Velkor.exe" | grep -i 'DLL Name: libhamlib-4.dll' >/dev/null ||
    fail "Velkor.exe does not use libhamlib-4.dll"
  if "$objdump" -h "$folder/libhamlib-4.dll" | grep '\.debug_' >/dev/null; then
    fail "libhamlib-4.dll is not stripped"
  fi
  for text in "GNU LESSER GENERAL PUBLIC LICENSE" "github.com/Hamlib/Hamlib/releases"; do
    grep -q -F "$text" "$folder/libhamlib-4-COPYING.txt" || fail "Hamlib's licence file lacks $text"
  done
fi

# A prefix of its own, made afresh: nothing there but Wine.
"$wine_prefix" "$work/prefix" >/dev/null 2>&1 || fail "cannot make a Wine prefix"
system32=$work/prefix/drive_c/windows/system32
# Every DLL the programs and the shipped DLLs import is Windows' own or lies
# beside them.
for f in "${shipped[@]}"; do
  case $f in *.exe | *.dll) ;; *) continue ;; esac
  while read -r dll; do
    found=$(find "$system32" "$folder" -maxdepth 1 -iname "$dll" | head -1)
    [ -n "$found" ] || fail "$f needs $dll, which is neither in Windows nor in the folder"
  done < <("$objdump" -p "$folder/$f" | awk '/DLL Name:/ { print $3 }')
done

# Started from the unzipped folder, on its own.
unset PASOTUNE_WINEPREFIX
(
  cd "$folder"
  export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  exec wine ./pasotune.exe
) >"$work/program.log" 2>&1 &
pid=$!
wait_for "$folder/config.txt" "CTCSS=" 60 || { cat "$work/program.log"; fail "pasotune.exe wrote no config.txt"; }
[ "$(od -An -c "$folder/config.txt" | tr -s ' ')" = "$(printf 'Puerto=COM1\r\nCTCSS=88.5\r\n' | od -An -c | tr -s ' ')" ] ||
  { od -c "$folder/config.txt"; fail "config.txt does not hold the defaults"; }
# Past the engine check two seconds in: the engine is there, so the
# program stays (it tells that no tracker runs, and waits for OK).
sleep 4
kill -0 "$pid" 2>/dev/null || { cat "$work/program.log"; fail "pasotune.exe did not stay up"; }
kill -KILL "$pid"
wait "$pid" 2>/dev/null || true
pid=""
echo "zip: ok"
