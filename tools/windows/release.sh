#!/usr/bin/env bash
# Builds the Windows release zip from a Windows build (tools/windows/build.sh): stripped velmora.exe and
# velmora-status.exe with their version resources, velmora-gatewaysim.exe, a commented Settings.xml, the SQL
# scripts, the Task Scheduler definition (UTF-16, as schtasks reads it) and the operating guide. Then checks
# that the zip holds exactly what the guide promises, and prints the sizes.
# Usage: tools/windows/release.sh [build directory, default build-win] [output directory, default: the build directory]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build-win}" && pwd)"
out="$(mkdir -p "${2:-$build}" && cd "${2:-$build}" && pwd)"
fail() { echo "release: $*" >&2; exit 1; }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "$build is not a configured Windows build"
# The programs must come from the sources at hand: their version resource names this commit.
commit=$(git -C "$root" rev-parse --short=12 HEAD 2>/dev/null || echo unknown)
name="velmora-$version-windows-x64"
stage="$out/$name"
rm -rf "$stage" "$out/$name.zip"
mkdir -p "$stage/sql"

for exe in driver/velmora.exe driver/velmora-status.exe tools/velmora-gatewaysim.exe; do
  [ -f "$build/$exe" ] || fail "$build/$exe is missing: build it first (tools/windows/build.sh)"
  target="$stage/$(basename "$exe")"
  x86_64-w64-mingw32-strip -o "$target" "$build/$exe"
  echo "$(basename "$exe"): $(stat -c %s "$build/$exe") bytes before stripping, $(stat -c %s "$target") after"
done
# The version resource survives stripping and names the version and the commit.
for exe in velmora.exe velmora-status.exe; do
  strings -el "$stage/$exe" | grep -qx "$version ($commit)" ||
    fail "$exe has no version resource for $version ($commit): rebuild $build from this commit"
done

# Text files for Windows: CRLF line ends; the task definition in UTF-16 with a byte-order mark.
crlf() { sed 's/\r$//; s/$/\r/' "$1" > "$2"; }
crlf "$root/tools/Settings.xml" "$stage/Settings.xml"
crlf "$root/docs/operating.md" "$stage/operating.md"
for f in "$root"/tools/schema/*.mssql.sql; do crlf "$f" "$stage/sql/$(basename "$f")"; done
{ printf '\xff\xfe'; sed 's/\r$//; s/$/\r/; 1s/encoding="UTF-8"/encoding="UTF-16"/' "$root/tools/windows/Velmora.task.xml" |
    iconv -f UTF-8 -t UTF-16LE; } > "$stage/Velmora.task.xml"

(cd "$out" && cmake -E tar cf "$name.zip" --format=zip "$name")

# What the operating guide promises is in the zip, and nothing is missing from it.
listing=$(cd "$out" && cmake -E tar tf "$name.zip")
for f in velmora.exe velmora-status.exe velmora-gatewaysim.exe Settings.xml Velmora.task.xml operating.md \
         sql/install-program.mssql.sql sql/install-tenant.mssql.sql sql/demo-erp.mssql.sql sql/grants.mssql.sql \
         sql/monitoring.mssql.sql sql/program.mssql.sql sql/tenant.mssql.sql; do
  grep -qx "$name/$f" <<< "$listing" || fail "the zip lacks $f"
done
iconv -f UTF-16 -t UTF-8 "$stage/Velmora.task.xml" | grep -q "<MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>" ||
  fail "the task definition in the zip is not readable UTF-16"
echo "$out/$name.zip: $(stat -c %s "$out/$name.zip") bytes"
