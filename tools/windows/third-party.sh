#!/usr/bin/env bash
# Prepares the sources the Windows build compiles itself, since Debian ships no MinGW builds of them:
# pugixml, the SQLite amalgamation and the header-only cpp-httplib, all from Debian's own source
# packages, and GoogleTest from /usr/src/googletest. Usage: third-party.sh <directory>
set -euo pipefail
out="${1:?usage: third-party.sh <directory>}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"
if [ -f "$out/.complete" ]; then
  echo "third-party sources ready in $out"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
# apt-get source needs a deb-src line; add one for the release the machine runs, once.
if ! grep -rqs '^\(Types: *deb-src\|deb-src \)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")"
  printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$codename" | $SUDO tee /etc/apt/sources.list.d/velmora-src.sources >/dev/null
  $SUDO apt-get update
fi

work="$out/download"
rm -rf "$work" && mkdir -p "$work"
(cd "$work" && apt-get source --download-only pugixml sqlite3 cpp-httplib)

extract() { # package -> directory the orig tarball unpacks to
  local tarball
  tarball="$(ls "$work"/"$1"_*.orig.tar.* | grep -v -- '-www' | head -n1)"
  mkdir -p "$work/$1" && tar -xf "$tarball" -C "$work/$1" --strip-components=1
  echo "$work/$1"
}

src="$(extract pugixml)"
mkdir -p "$out/pugixml" && cp "$src"/src/pugixml.cpp "$src"/src/pugixml.hpp "$src"/src/pugiconfig.hpp "$out/pugixml/"

src="$(extract cpp-httplib)"
mkdir -p "$out/httplib" && cp "$src"/httplib.h "$out/httplib/"

src="$(extract sqlite3)"
mkdir -p "$src/bld"
(cd "$src/bld" && ../configure --disable-tcl >/dev/null && make sqlite3.c >/dev/null)
mkdir -p "$out/sqlite" && cp "$src"/bld/sqlite3.c "$src"/bld/sqlite3.h "$out/sqlite/"

rm -rf "$work"
touch "$out/.complete"
echo "third-party sources ready in $out"
