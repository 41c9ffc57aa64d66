#!/usr/bin/env bash
# Times the import against the Python peer (ezdxf + openpyxl, /work/shared/tools/peer.py import)
# on the same workbooks, and prints the ratios of wall time and peak memory. For each size: a
# drawing from gen_drawing.py, its workbook in the export's layout (tests/import/import_probe.py,
# openpyxl), every attribute cell of every data row edited (openpyxl), then `sheetwise import
# DRAWING BOOK -o OUT` and `peer.py import DRAWING BOOK OUT`, each the whole run: loading the
# drawing and the workbook, applying, saving. Both results are checked with ezdxf: the same
# attributes hold the edited texts. Not part of CI.
#   bench/compare_peer_import.sh [REFS...]      default: 1000 10000 100000
#   RUNS=N (default 3): timed runs of each program per size, the shortest kept; then one run of
#   each under time(1) for its peak memory.
# Needs a Release build (BUILD=folder, default build-rel), /usr/bin/python3 with ezdxf and
# openpyxl, /usr/bin/time, and the shared folder's tools.
set -euo pipefail
cd "$(dirname "$0")/.."
sizes=("$@")
[ ${#sizes[@]} -eq 0 ] && sizes=(1000 10000 100000)
shared=$(cd .. && pwd)/shared
build=${BUILD:-build-rel}
work=${IMPORT_BENCH_DIR:-${TMPDIR:-/tmp}/sheetwise-import-bench}
runs=${RUNS:-3}
mkdir -p "$work"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSHEETWISE_TESTS=OFF >/dev/null
cmake --build "$build" --target sheetwise sheetwise_arx -j2 >/dev/null
sheetwise=$(pwd)/$build/bin/sheetwise
export XDG_CONFIG_HOME=$work/config  # the user's settings are not read: defaults

peak_mb() { awk '/Maximum resident set size/ { printf "%.0f", $NF / 1024 }' "$1"; }
# Wall time from the shell's clock (microseconds), each program started straight from the shell:
# time(1) in between would add its own start (about 4 ms here) to both, a tenth of a small import
# and nothing of the peer's second. Peak memory comes from a run of each under time(1) of its own.
wall_s() { echo "$2 - $1" | bc | awk '{ printf "%.3f", $1 }'; }

printf '%-7s | %8s %8s | %8s %8s | %6s %6s\n' refs "ours s" "ours MB" "peer s" "peer MB" \
  "time x" "mem x"
for n in "${sizes[@]}"; do
  drawing=$work/refs-$n.dxf
  book=$work/refs-$n.xlsx
  [ -f "$drawing" ] || /usr/bin/python3 "$shared/tools/gen_drawing.py" "$drawing" --refs "$n" \
    --seed 1 >/dev/null
  if [ ! -f "$book" ]; then
    /usr/bin/python3 tests/import/import_probe.py export "$drawing" "$book" >/dev/null
    # Every attribute cell of every data row edited.
    /usr/bin/python3 - "$book" <<'EOF'
import sys, openpyxl
book = sys.argv[1]
wb = openpyxl.load_workbook(book)
for ws in wb.worksheets:
    header = [c.value for c in ws[1]]
    props = {i for i, c in enumerate(ws[1]) if c.comment is not None}
    for row in ws.iter_rows(min_row=2):
        if row[0].comment is None:
            continue
        for i, cell in enumerate(row[1:], start=1):
            if i not in props and i < len(header) and header[i]:
                cell.value = "edited-%s" % (cell.value or "")
                cell.data_type = "s"
wb.save(book)
EOF
  fi
  ours=$work/ours-$n.dxf
  peer=$work/peer-$n.dxf
  # Each program RUNS times, turn about: the shortest time counts, so that a moment when the
  # machine was busy with something else weighs on neither.
  os='' ps=''
  for _ in $(seq "$runs"); do
    t0=$EPOCHREALTIME
    "$sheetwise" import "$drawing" "$book" -o "$ours" >"$work/ours.out"
    t1=$EPOCHREALTIME
    /usr/bin/python3 "$shared/tools/peer.py" import "$drawing" "$book" "$peer" >"$work/peer.out"
    t2=$EPOCHREALTIME
    t=$(wall_s "$t0" "$t1")
    { [ -z "$os" ] || (( $(echo "$t < $os" | bc) )); } && os=$t
    t=$(wall_s "$t1" "$t2")
    { [ -z "$ps" ] || (( $(echo "$t < $ps" | bc) )); } && ps=$t
  done
  /usr/bin/time -v -o "$work/ours.time" "$sheetwise" import "$drawing" "$book" -o "$ours" \
    >"$work/ours.out"
  /usr/bin/time -v -o "$work/peer.time" /usr/bin/python3 "$shared/tools/peer.py" import \
    "$drawing" "$book" "$peer" >"$work/peer.out"
  om=$(peak_mb "$work/ours.time") pm=$(peak_mb "$work/peer.time")
  # The same attributes hold the same texts in both results.
  /usr/bin/python3 - "$ours" "$peer" <<'EOF'
import sys, ezdxf
def texts(path):
    doc = ezdxf.readfile(path)
    return {(i.dxf.handle, a.dxf.tag): a.dxf.text for i in doc.entitydb.values()
            if i.dxftype() == "INSERT" and i.is_alive for a in i.attribs}
a, b = texts(sys.argv[1]), texts(sys.argv[2])
bad = [k for k in a if a[k] != b.get(k)]
if bad:
    sys.exit("results differ on %d attributes, e.g. %s: %r vs %r" % (len(bad), bad[0], a[bad[0]], b.get(bad[0])))
EOF
  printf '%-7s | %8s %8s | %8s %8s | %6.1f %6.1f\n' "$n" "$os" "$om" "$ps" "$pm" \
    "$(echo "$ps / $os" | bc -l)" "$(echo "$pm / $om" | bc -l)"
done
