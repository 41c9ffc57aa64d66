#!/usr/bin/env bash
# Runs every test: the whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, then the
# thread tests again under ThreadSanitizer. Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
jobs=$(nproc)

# Tests must never wait for a person: no standard input, no browser.
exec </dev/null
export SHEETWISE_OPENER=true

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSHEETWISE_SANITIZE=address,undefined
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSHEETWISE_SANITIZE=thread
cmake --build build-tsan -j "$jobs" --target thread_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L thread
