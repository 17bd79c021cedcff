#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UBSan and runs the whole test suite; any sanitizer
# report fails the run. Usage: tools/sanitize.sh [build-dir]   (default: build-asan at the repository root)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build-asan}"
jobs="${VELMORA_JOBS:-2}"

# Debug keeps the reports' stacks exact; the suite stays well within its time under it.
cmake -S "$root" -B "$build" -DVELMORA_SANITIZE=ON -DVELMORA_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
# The test lists are read at build time by running the executables, so the options apply there too.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:halt_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="report_objects=1"
cmake --build "$build" -j"$jobs"
ctest --test-dir "$build" --output-on-failure -j"$jobs"
