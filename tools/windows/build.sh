#!/usr/bin/env bash
# Cross-compiles Velmora and its tests for Windows x86-64 and runs the tests under Wine, in a Wine
# prefix of its own under a Turkish locale (ANSI code page 1254, Turkish regional formats).
# Usage: tools/windows/build.sh [build directory, default build-win]
# Needs tools/install-deps.sh and tools/windows/install-deps.sh. The program is <dir>/driver/velmora.exe.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(mkdir -p "${1:-$root/build-win}" && cd "${1:-$root/build-win}" && pwd)"

bash "$root/tools/windows/third-party.sh" "$build/third-party"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/tools/windows/mingw-w64-x86_64.cmake" \
  -DVELMORA_THIRD_PARTY_DIR="$build/third-party" -DVELMORA_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)"

# The tests expect a Turkish Windows: Wine takes its code page and formats from the Unix locale.
if [ ! -d "$build/locale/tr_TR.UTF-8" ]; then
  mkdir -p "$build/locale"
  localedef -i tr_TR -f UTF-8 "$build/locale/tr_TR.UTF-8"
fi
export LOCPATH="$build/locale" LC_ALL=tr_TR.UTF-8 WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot -i >/dev/null 2>&1 || true
status=0
ctest --test-dir "$build" --output-on-failure -j2 || status=$?
log="$WINEPREFIX/drive_c/Logs/Velmora.log"
if [ -f "$log" ]; then echo "run log written under Wine to c:\\Logs\\Velmora.log ($log)"; fi
wineserver -k || true
exit $status
