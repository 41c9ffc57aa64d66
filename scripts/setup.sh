#!/usr/bin/env bash
# Installs what Sheetwise needs, builds it in build/ and runs it on the bundled sample.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DSHEETWISE_TESTS=OFF
cmake --build build
build/bin/sheetwise selftest samples/attributes_r2010.dxf
# The menu file goes where the application looks for it in the user's configuration folder.
menu_dir="${XDG_CONFIG_HOME:-$HOME/.config}/Autodesk/ApplicationPlugins/Norvane/Sheetwise 2014"
mkdir -p "$menu_dir"
install -m 644 build/bin/vamenu.cuix "$menu_dir/vamenu.cuix"
# The main job on the bundled sample: its block attributes exported to a workbook.
build/bin/sheetwise export samples/attributes_r2010.dxf -o build/attributes_r2010.xlsx
