#!/bin/sh
# Where the Windows build keeps the Hamlib it makes: a cache folder someone
# else could write is not used (Hamlib is made in the build folder), a link at
# the lock's name is never written through, and each compiler gets a folder of
# its own. A fake Hamlib source stops each run once the lock is taken.
# usage: hamlib_cache_test.sh SOURCE_DIR CMAKE
set -eu
cmake=$2 root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir "$root/hamlib" "$root/build"
echo "AC_INIT([Hamlib], [0])" > "$root/hamlib/configure.ac"
for v in 12 13; do printf '#!/bin/sh\necho gcc %s\n' $v > "$root/cc$v" && chmod +x "$root/cc$v"; done
printf 'cmake_minimum_required(VERSION 3.25)\ninclude(%s/cmake/hamlib-windows.cmake)\npasotune_hamlib_from_source(%s p s)\n' \
  "$1" "$root/hamlib" > "$root/run.cmake"
fail() { echo "FAIL: $*" && exit 1; }
# Runs it with the cache folder $1 and the compiler $2; prints the locks in both places.
locks() {
  (cd "$root/build" && "$cmake" -DPASOTUNE_HAMLIB_CACHE="$1" -DCMAKE_C_COMPILER="$2" -P "$root/run.cmake") > /dev/null 2>&1 || :
  (cd "$root" && find "${1#"$root/"}" build -name '*.lock' | sort)
}
for case in mine compilers open foreign link; do
  rm -rf "$root/cache" "$root/build/hamlib-cache" "$root/elsewhere"
  mkdir -m 700 "$root/cache"
  want="cache/hamlib-w64-"
  case $case in
    compilers) locks "$root/cache" "$root/cc12" > /dev/null && want="$want.*cache/hamlib-w64-" ;;
    open) chmod 777 "$root/cache" && want=build/hamlib-cache/hamlib-w64- ;;
    foreign) [ "$(id -u)" = 0 ] || continue
      chown nobody "$root/cache" && want=build/hamlib-cache/hamlib-w64- ;;
    link) lock=$(locks "$root/cache" "$root/cc13")
      rm "$root/$lock" && ln -s "$root/elsewhere" "$root/$lock" ;;
  esac
  got=$(locks "$root/cache" "$root/cc13" | tr '\n' ' ')
  echo "$got" | grep -q "^$want[0-9a-f]*\.lock $" || fail "$case: locks $got"
  [ ! -e "$root/elsewhere" ] || fail "$case: a file made through the link"
done
echo ok
