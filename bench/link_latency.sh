#!/usr/bin/env bash
# The live link from a saved workbook file to the saved drawing: `sheetwise link` runs on a
# generated drawing and its exported workbook; another program (openpyxl) saves N changed
# attribute cells; the time runs until the drawing file on disk holds every new value.
#   bench/link_latency.sh [N...]     default: 1 100 10000
# Needs /usr/bin/python3 with openpyxl. Not part of CI.
set -euo pipefail
cd "$(dirname "$0")/.."
sizes=("$@")
[ ${#sizes[@]} -eq 0 ] && sizes=(1 100 10000)
build=${BUILD:-build-rel}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSHEETWISE_TESTS=OFF >/dev/null
cmake --build "$build" --target sheetwise sheetwise_arx -j2 >/dev/null
shared=$(cd .. && pwd)/shared
tmp=${TMPDIR:-/tmp}/sheetwise-link-bench
rm -rf "$tmp" && mkdir -p "$tmp"
export XDG_CONFIG_HOME=$tmp/config
printf '%-8s | %s\n' cells "saved workbook -> saved drawing"
for n in "${sizes[@]}"; do
  refs=$(( n > 100 ? n : 100 ))
  drawing=$tmp/link-$n.dxf
  /usr/bin/python3 "$shared/tools/gen_drawing.py" --refs "$refs" --blocks 1 --dynamic 0 "$drawing" >/dev/null
  "$build/bin/sheetwise" export "$drawing" -o "$tmp/link-$n.xlsx" >/dev/null 2>&1
  "$build/bin/sheetwise" link "$drawing" "$tmp/link-$n.xlsx" >"$tmp/link-$n.out" 2>&1 &
  pid=$!
  until grep -q "Press Ctrl-C" "$tmp/link-$n.out"; do sleep 0.05; done
  start=$(/usr/bin/python3 - "$tmp/link-$n.xlsx" "$n" <<'PY'
import sys, time, openpyxl
book, n = sys.argv[1], int(sys.argv[2])
wb = openpyxl.load_workbook(book)
ws = wb[wb.sheetnames[0]]
for r in range(2, 2 + n):
    ws.cell(row=r, column=2).value = "L%06d" % r
wb.save(book)
print(time.time())
PY
)
  last=$(printf 'L%06d' 2)  # the newest change is applied first, row 2 last
  until grep -q "$last" "$drawing" 2>/dev/null && [ "$(grep -c ' = L' "$tmp/link-$n.out")" -ge "$n" ]; do
    sleep 0.02
  done
  end=$(date +%s.%N)
  kill -INT "$pid"; wait "$pid" || true
  printf '%-8s | %.2f s\n' "$n" "$(echo "$end - $start" | bc -l)"
done
