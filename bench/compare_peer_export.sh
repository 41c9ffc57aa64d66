#!/usr/bin/env bash
# The whole export command, from start to the saved workbook (`sheetwise export`), against the
# Python peer (`peer.py export`, ezdxf + openpyxl) on the same drawings made by gen_drawing.py.
# Prints seconds and peak memory of both and the ratios. Not part of CI.
#   bench/compare_peer_export.sh [REFS...]     default: 1000 10000 100000
#   RUNS=N (default 3): timed runs of each program per size, the shortest kept; then one run of
#   each under time(1) for its peak memory.
# Needs /usr/bin/python3 with ezdxf and openpyxl, and /usr/bin/time.
set -euo pipefail
cd "$(dirname "$0")/.."
sizes=("$@")
[ ${#sizes[@]} -eq 0 ] && sizes=(1000 10000 100000)
build=${BUILD:-build-rel}
runs=${RUNS:-3}
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
# Wall time from the shell's clock (microseconds), each program started straight from the shell:
# time(1) in between would add its own start (about 4 ms here) to both, a tenth of a small export
# and nothing of the peer's second. Peak memory comes from a run of each under time(1) of its own.
secs() { echo "$2 - $1" | bc | awk '{ printf "%.3f", $1 }'; }
printf '%-7s | %-20s | %-20s | %s\n' refs "ours s / MB" "peer s / MB" "peer/ours time, memory"
for n in "${sizes[@]}"; do
  drawing=$tmp/refs-$n.dxf
  [ -f "$drawing" ] || /usr/bin/python3 "$shared/tools/gen_drawing.py" --refs "$n" "$drawing" >/dev/null
  # Each program RUNS times, turn about: the shortest time counts, so that a moment when the
  # machine was busy with something else weighs on neither.
  o_s='' p_s=''
  for _ in $(seq "$runs"); do
    rm -f "$tmp/ours-$n.xlsx" "$tmp/peer-$n.xlsx"
    t0=$EPOCHREALTIME
    "$build/bin/sheetwise" export "$drawing" -o "$tmp/ours-$n.xlsx" >/dev/null
    t1=$EPOCHREALTIME
    /usr/bin/python3 "$shared/tools/peer.py" export "$drawing" "$tmp/peer-$n.xlsx" >/dev/null
    t2=$EPOCHREALTIME
    t=$(secs "$t0" "$t1")
    { [ -z "$o_s" ] || (( $(echo "$t < $o_s" | bc) )); } && o_s=$t
    t=$(secs "$t1" "$t2")
    { [ -z "$p_s" ] || (( $(echo "$t < $p_s" | bc) )); } && p_s=$t
  done
  rm -f "$tmp/ours-$n.xlsx" "$tmp/peer-$n.xlsx"
  /usr/bin/time -v -o "$tmp/ours.time" "$build/bin/sheetwise" export "$drawing" -o "$tmp/ours-$n.xlsx" >/dev/null
  /usr/bin/time -v -o "$tmp/peer.time" /usr/bin/python3 "$shared/tools/peer.py" export "$drawing" "$tmp/peer-$n.xlsx" >/dev/null
  o_m=$(peak_mb "$tmp/ours.time") p_m=$(peak_mb "$tmp/peer.time")
  printf '%-7s | %7.3f s %6s MB | %7.3f s %6s MB | %.1fx time, %.1fx memory\n' "$n" "$o_s" "$o_m" "$p_s" "$p_m" \
    "$(echo "$p_s / $o_s" | bc -l)" "$(echo "$p_m / $o_m" | bc -l)"
done
