#!/usr/bin/env bash
# Installs what the Windows cross-build needs on Debian 12, besides tools/install-deps.sh:
# MinGW-w64 (POSIX threads), Wine to run the tests, Tcl for the SQLite amalgamation, locale tools.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
$SUDO apt-get install -y --no-install-recommends \
  g++-mingw-w64-x86-64-posix wine wine64 tcl xz-utils locales dpkg-dev
