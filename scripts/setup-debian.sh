#!/bin/sh
# Installs what building, running and testing Pasotune needs on Debian 12:
# the Linux build, and the Windows build (mingw-w64) with Wine to test it, and
# the tools that make Hamlib for it from Hamlib's source.
set -e
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  cmake ninja-build g++ clang libclang-rt-14-dev pkgconf \
  libgtest-dev libgmock-dev googletest libbenchmark-dev \
  qt6-base-dev qt6-base-dev-tools libgl-dev \
  dbus dbus-bin dbus-daemon \
  libhamlib-dev libhamlib-utils \
  xvfb xauth fonts-dejavu-core fonts-inconsolata gpredict xdotool \
  procps iproute2 dpkg-dev \
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev wine wine64 \
  make autoconf automake libtool texinfo >/dev/null
