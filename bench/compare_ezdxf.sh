#!/usr/bin/env bash
# Times loading and saving the same generated drawings with ezdxf (readfile + saveas) and with
# our DXF layer (load; save; load, one attribute edit, atomic save), and prints the ratios of
# time and peak memory. Fails when a drawing loaded and saved unchanged is not byte-identical to
# the file read. Not part of CI.
#   bench/compare_ezdxf.sh [REFS...]      default: 1000 10000 100000
# Needs /usr/bin/python3 with ezdxf (Debian's python3-ezdxf) and /usr/bin/time.
set -euo pipefail
cd "$(dirname "$0")/.."
sizes=("$@")
[ ${#sizes[@]} -eq 0 ] && sizes=(1000 10000 100000)
export DXF_BENCH_DIR=${DXF_BENCH_DIR:-${TMPDIR:-/tmp}/sheetwise-dxf-bench}
mkdir -p "$DXF_BENCH_DIR"
build=${BUILD:-build-bench}  # BUILD=folder to use another Release build folder
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSHEETWISE_TESTS=OFF \
  -DSHEETWISE_BENCH=ON >/dev/null
cmake --build "$build" --target dxf_bench -j2 >/dev/null
bench=$build/bin/dxf_bench
"$bench" --benchmark_list_tests >/dev/null  # makes the drawings that are missing

peak_kb() { sed -n 's/.*Maximum resident set size (kbytes): //p' "$1"; }
# The mean real time of one benchmark in seconds.
bench_s() {
  "$bench" --benchmark_filter="^$1\$" --benchmark_min_time=0.5 --benchmark_format=csv \
    2>/dev/null | awk -F, -v b="$1" 'index($0, b) == 2 { printf "%.3f", $3 / 1000 }'
}

printf '%-7s %6s | %7s %7s %7s | %7s %7s %7s %7s | %6s %6s\n' refs "file" "ezdxf" "ezdxf" \
  "ezdxf" "ours" "ours" "ours" "ours" "time" "mem"
printf '%-7s %6s | %7s %7s %7s | %7s %7s %7s %7s | %6s %6s\n' "" MB "load s" "save s" \
  "peak MB" "load s" "save s" "l+e+s s" "peak MB" x x
identical=()
for n in "${sizes[@]}"; do
  file=$DXF_BENCH_DIR/refs-$n.dxf
  [ -f "$file" ] || { echo "$n: no drawing (gen_drawing.py failed)"; continue; }
  out=$DXF_BENCH_DIR/ezdxf-out-$n.dxf
  # ezdxf: readfile and saveas timed inside Python; the peak memory of the process.
  ez_times=$(/usr/bin/time -v -o "$DXF_BENCH_DIR/ez.time" /usr/bin/python3 -c '
import sys, time, ezdxf
t = time.perf_counter()
doc = ezdxf.readfile(sys.argv[1])
t1 = time.perf_counter()
doc.saveas(sys.argv[2])
print(f"{t1 - t:.3f} {time.perf_counter() - t1:.3f}")' "$file" "$out")
  read -r ez_load ez_save <<<"$ez_times"
  ez_kb=$(peak_kb "$DXF_BENCH_DIR/ez.time")
  rm -f "$out"
  # Ours: load; save unchanged (the benchmark stops with an error unless the saved file is
  # byte-identical to the file read); load + one attribute edit + atomic save, whose process
  # peak memory is the one compared.
  ours_load=$(bench_s "BM_Load/$n")
  if ! check=$("$bench" --benchmark_filter="^BM_Save/$n\$" --benchmark_min_time=0.5 \
    --benchmark_format=csv 2>&1 >"$DXF_BENCH_DIR/save.csv"); then
    echo "$check" >&2
    exit 1
  fi
  ours_save=$(awk -F, -v b="BM_Save/$n" 'index($0, b) == 2 { printf "%.3f", $3 / 1000 }' \
    "$DXF_BENCH_DIR/save.csv")
  identical+=("$(echo "$check" | grep 'byte-identical' | tail -1)")
  ours_les=$(/usr/bin/time -v -o "$DXF_BENCH_DIR/ours.time" "$bench" \
    --benchmark_filter="^BM_LoadEditSave/$n\$" --benchmark_min_time=0.5 \
    --benchmark_format=csv 2>/dev/null |
    awk -F, '/BM_LoadEditSave/ { printf "%.3f", $3 / 1000 }')
  ours_kb=$(peak_kb "$DXF_BENCH_DIR/ours.time")
  size_mb=$(awk -v b="$(stat -c %s "$file")" 'BEGIN { printf "%.1f", b / 1048576 }')
  awk -v n="$n" -v mb="$size_mb" -v el="$ez_load" -v es="$ez_save" -v ek="$ez_kb" \
    -v ol="$ours_load" -v os="$ours_save" -v oe="$ours_les" -v ok="$ours_kb" \
    'BEGIN { printf "%-7s %6s | %7.3f %7.3f %7.1f | %7.3f %7.3f %7.3f %7.1f | %6.1f %6.1f\n",
             n, mb, el, es, ek / 1024, ol, os, oe, ok / 1024, (el + es) / oe, ek / ok }'
done
echo "time x: ezdxf readfile + saveas over our load + edit + save; mem x: peak memory ratio"
printf 'round trip: %s\n' "${identical[@]}"
