#!/usr/bin/env bash
# Writes ROWS rows x 12 cells with a comment on each row through Invoke and saves; then opens
# and reads every cell and comment back through Invoke; openpyxl does the same work. Prints the
# times, peak memory and the ratios. Not part of CI.
#   bench/compare_openpyxl.sh [ROWS...]     default: 100000
# Needs /usr/bin/python3 with openpyxl (Debian's python3-openpyxl) and /usr/bin/time.
set -euo pipefail
cd "$(dirname "$0")/.."
sizes=("$@")
[ ${#sizes[@]} -eq 0 ] && sizes=(100000)
build=${BUILD:-build-bench}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSHEETWISE_TESTS=OFF \
  -DSHEETWISE_BENCH=ON >/dev/null
cmake --build "$build" --target calc_bench -j2 >/dev/null
bench=$build/bin/calc_bench
tmp=${TMPDIR:-/tmp}
peak_mb() { sed -n 's/.*Maximum resident set size (kbytes): //p' "$1" | awk '{printf "%.0f", $1/1024}'; }
ours_s() {  # seconds of one benchmark run alone (its process's peak memory in $tmp/ours.time)
  /usr/bin/time -v -o "$tmp/ours.time" "$bench" --benchmark_filter="^$1\$" \
    --benchmark_format=csv 2>/dev/null | awk -F, -v b="$1" 'index($0, b) == 2 { printf "%.3f", $3 / 1000 }'
}
printf '%-7s | %-24s | %-24s | %s\n' rows "write+save s / peak MB" "open+read s / peak MB" "ratios (openpyxl/ours)"
for n in "${sizes[@]}"; do
  book=$tmp/openpyxl-bench-$n.xlsx
  py_w=$(/usr/bin/time -v -o "$tmp/py.time" /usr/bin/python3 bench/openpyxl_peer.py write "$n" "$book")
  py_wm=$(peak_mb "$tmp/py.time")
  py_r=$(/usr/bin/time -v -o "$tmp/py.time" /usr/bin/python3 bench/openpyxl_peer.py read "$book" 2>/dev/null)
  py_rm=$(peak_mb "$tmp/py.time")
  our_w=$(ours_s "BM_WriteRowsAndSave/$n/iterations:1")
  our_wm=$(peak_mb "$tmp/ours.time")
  our_r=$(ours_s "BM_LoadAndReadBack/$n/iterations:1")
  our_rm=$(peak_mb "$tmp/ours.time")
  printf '%-7s | openpyxl %6s s %5s MB | openpyxl %6s s %5s MB |\n' "$n" "$py_w" "$py_wm" "$py_r" "$py_rm"
  printf '%-7s | ours     %6s s %5s MB | ours     %6s s %5s MB | write %.1fx time %.1fx mem, read %.1fx time %.1fx mem\n' \
    "" "$our_w" "$our_wm" "$our_r" "$our_rm" \
    "$(echo "$py_w / $our_w" | bc -l)" "$(echo "$py_wm / $our_wm" | bc -l)" \
    "$(echo "$py_r / $our_r" | bc -l)" "$(echo "$py_rm / $our_rm" | bc -l)"
  # The workbook we wrote must read back in openpyxl with every comment.
  /usr/bin/python3 bench/openpyxl_peer.py read "$tmp/sheetwise-calc-bench-$n.xlsx" 2>&1 >/dev/null |
    awk -v n="$n" '{ if ($2 != n) { print "comments read back by openpyxl: " $2 " of " n; exit 1 } }'
  rm -f "$book"
done
