#!/usr/bin/env bash
# The whole export command, from start to the saved workbook (`sheetwise export`), against the
# Python peer (`peer.py export`, ezdxf + openpyxl) on the same drawings made by gen_drawing.py.
# Prints seconds and peak memory of both and the ratios. Not part of CI.
#   bench/compare_peer_export.sh [REFS...]     default: 1000 10000 100000
# Needs /usr/bin/python3 with ezdxf and openpyxl, and /usr/bin/time.
set -euo pipefail
cd "$(dirname "$0")/.."
sizes=("$@")
[ ${#sizes[@]} -eq 0 ] && sizes=(1000 10000 100000)
build=${BUILD:-build-rel}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSHEETWISE_TESTS=OFF >/dev/null
cmake --build "$build" --target sheetwise sheetwise_arx -j2 >/dev/null
shared=$(cd .. && pwd)/shared
tmp=${TMPDIR:-/tmp}/sheetwise-export-bench
mkdir -p "$tmp"
# The bench's own settings store and menu file, never the user's.
export XDG_CONFIG_HOME=$tmp/config
mkdir -p "$XDG_CONFIG_HOME/Autodesk/ApplicationPlugins/Norvane/Sheetwise 2014"
cp "$build/bin/vamenu.cuix" "$XDG_CONFIG_HOME/Autodesk/ApplicationPlugins/Norvane/Sheetwise 2014/"
peak_mb() { sed -n 's/.*Maximum resident set size (kbytes): //p' "$1" | awk '{printf "%.0f", $1/1024}'; }
secs() { sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$1" |
  awk -F: '{ if (NF == 3) print $1*3600 + $2*60 + $3; else print $1*60 + $2 }'; }
printf '%-7s | %-20s | %-20s | %s\n' refs "ours s / MB" "peer s / MB" "peer/ours time, memory"
for n in "${sizes[@]}"; do
  drawing=$tmp/refs-$n.dxf
  [ -f "$drawing" ] || /usr/bin/python3 "$shared/tools/gen_drawing.py" --refs "$n" "$drawing" >/dev/null
  rm -f "$tmp/ours-$n.xlsx" "$tmp/peer-$n.xlsx"
  /usr/bin/time -v -o "$tmp/ours.time" "$build/bin/sheetwise" export "$drawing" -o "$tmp/ours-$n.xlsx" >/dev/null
  /usr/bin/time -v -o "$tmp/peer.time" /usr/bin/python3 "$shared/tools/peer.py" export "$drawing" "$tmp/peer-$n.xlsx" >/dev/null
  o_s=$(secs "$tmp/ours.time"); o_m=$(peak_mb "$tmp/ours.time")
  p_s=$(secs "$tmp/peer.time"); p_m=$(peak_mb "$tmp/peer.time")
  printf '%-7s | %7.2f s %6s MB | %7.2f s %6s MB | %.1fx time, %.1fx memory\n' "$n" "$o_s" "$o_m" "$p_s" "$p_m" \
    "$(echo "$p_s / $o_s" | bc -l)" "$(echo "$p_m / $o_m" | bc -l)"
done
