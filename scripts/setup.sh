#!/usr/bin/env bash
# Installs, only when missing, every Debian package the build, the tests and the demo need.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libcurl4-openssl-dev libssl-dev libicu-dev libxml2-dev libsqlite3-dev
  flex bison
  g++-mingw-w64-i686 mingw-w64-i686-dev
  g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  wine wine32:i386 wine64
  libcpp-httplib-dev tinyproxy openssl curl
  msitools wixl libmsi-dev libglib2.0-dev python3
  dpkg-dev tcl
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
refresh=0

# The Windows build compiles libxml2 and SQLite from Debian's source packages
# (apt-get source), which needs a deb-src entry beside each binary one.
if ! grep -qsE '^(Types:.*deb-src|deb-src )' /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
                                             /etc/apt/sources.list.d/*.sources; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    echo "setup: adding deb-src entries for the stanzas of debian.sources"
    sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      $SUDO tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
  elif grep -qsE '^deb ' /etc/apt/sources.list; then
    echo "setup: adding deb-src entries for the lines of sources.list"
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list |
      $SUDO tee /etc/apt/sources.list.d/debian-src.list >/dev/null
  else
    echo "setup: no Debian entry in /etc/apt/sources.list or debian.sources to add deb-src entries for" >&2
    exit 1
  fi
  refresh=1
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# Wine's 32-bit half (wine32:i386) runs the 32-bit Windows programs.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  refresh=1
fi

if ((${#missing[@]})) || ((refresh)); then
  $SUDO apt-get update -q
fi
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
