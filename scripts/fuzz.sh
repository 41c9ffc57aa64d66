#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 60). Not part of CI.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
bash scripts/deps.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSHEETWISE_TESTS=OFF -DSHEETWISE_FUZZ=ON
cmake --build build-fuzz
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for t in build-fuzz/bin/*_fuzz; do targets+=("$(basename "$t")"); done
fi
for t in "${targets[@]}"; do
  corpus=build-fuzz/corpus/$t
  mkdir -p "$corpus"
  seeds=()
  [ -d "fuzz/seeds/$t" ] && seeds=("fuzz/seeds/$t")
  echo "== $t for ${seconds}s"
  "build-fuzz/bin/$t" -max_total_time="$seconds" -print_final_stats=1 "$corpus" "${seeds[@]}"
done
