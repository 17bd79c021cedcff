#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while over a copy of its seed corpus,
# two at a time. Any crash, hang, leak, sanitizer report or escaped exception fails the run; the
# input that caused it is left in <build-dir>/fuzz-artifacts/<target>/.
# Usage: tools/fuzz.sh [seconds-per-target] [build-dir]   (defaults: 60, build-fuzz at the repository root)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-60}"
build="${2:-$root/build-fuzz}"
parallel="${VELMORA_FUZZ_PARALLEL:-2}"
targets=(gateway_answers settings_file custom_query tsql_dialect)

export CC=clang-14 CXX=clang++-14
cmake -S "$root" -B "$build" -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_FUZZ=ON -DBUILD_TESTING=OFF -DVELMORA_BUILD_BENCH=OFF
cmake --build "$build" --target velmora_fuzz -j2

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:halt_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
# Stacks with file and line; the unversioned symbolizer comes with another package.
if command -v llvm-symbolizer-14 >/dev/null; then export ASAN_SYMBOLIZER_PATH="$(command -v llvm-symbolizer-14)"; fi
# The readers that take a file name get their input through per-process files here, not in /tmp.
export TMPDIR="$build/fuzz-tmp"
mkdir -p "$TMPDIR" "$build/fuzz-logs"

run_target() {
  local name="$1"
  local corpus="$build/fuzz-corpus/$name" artifacts="$build/fuzz-artifacts/$name/"
  mkdir -p "$corpus" "$artifacts"
  # The working corpus keeps what earlier runs found; the seeds are copied in, the repository is not written.
  cp -f "$root/tests/fuzz/corpus/$name/"* "$corpus/"
  local dict=()
  if [ -f "$root/tests/fuzz/$name.dict" ]; then dict=(-dict="$root/tests/fuzz/$name.dict"); fi
  local rc=0
  "$build/tests/fuzz/fuzz_$name" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -detect_leaks=1 -print_final_stats=1 -artifact_prefix="$artifacts" "${dict[@]}" \
    >"$build/fuzz-logs/$name.log" 2>&1 || rc=$?
  echo "$rc" >"$build/fuzz-logs/$name.rc"
}

rm -f "$build"/fuzz-logs/*.rc
running=0
for name in "${targets[@]}"; do
  run_target "$name" &
  running=$((running + 1))
  if [ "$running" -ge "$parallel" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done
wait

failed=0
for name in "${targets[@]}"; do
  rc="$(cat "$build/fuzz-logs/$name.rc" 2>/dev/null || echo 255)"
  log="$build/fuzz-logs/$name.log"
  if [ "$rc" = 0 ]; then
    echo "fuzz_$name: ok: $(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1)"
  else
    failed=1
    echo "fuzz_$name: FAILED (exit $rc), log $log"
    grep -E 'ERROR: |FAULT: |SUMMARY: |runtime error|Test unit written to|ALARM|==[0-9]+== ' "$log" | head -n 20 || true
  fi
done
exit "$failed"
