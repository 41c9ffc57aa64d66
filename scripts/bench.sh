#!/usr/bin/env bash
# Builds the benchmarks in Release and runs each; results on stdout. Not part of CI.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DSHEETWISE_TESTS=OFF \
  -DSHEETWISE_BENCH=ON
cmake --build build-bench
for b in build-bench/bin/*_bench; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" --benchmark_min_time=0.2 "$@"
done
