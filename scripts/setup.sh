#!/usr/bin/env bash
# Installs what Sheetwise needs, builds it in build/ and runs it on the bundled sample.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DSHEETWISE_TESTS=OFF
cmake --build build
build/bin/sheetwise selftest samples/attributes_r2010.dxf
