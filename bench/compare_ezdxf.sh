#!/usr/bin/env bash
# Times loading and saving the same generated drawings with ezdxf (readfile + saveas) and with
# our DXF layer (load, one attribute edit, atomic save), and prints the ratios of time and peak
# memory. Not part of CI.
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

printf '%-8s %9s | %10s %9s | %10s %9s | %7s %7s\n' refs "file MB" "ezdxf s" "ezdxf MB" \
  "ours s" "ours MB" "time x" "mem x"
for n in "${sizes[@]}"; do
  file=$DXF_BENCH_DIR/refs-$n.dxf
  [ -f "$file" ] || { echo "$n: no drawing (gen_drawing.py failed)"; continue; }
  out=$DXF_BENCH_DIR/ezdxf-out-$n.dxf
  # ezdxf: time measured inside Python around readfile + saveas, peak memory of the process.
  ez_s=$(/usr/bin/time -v -o "$DXF_BENCH_DIR/ez.time" /usr/bin/python3 -c '
import sys, time, ezdxf
t = time.perf_counter()
doc = ezdxf.readfile(sys.argv[1])
doc.saveas(sys.argv[2])
print(f"{time.perf_counter() - t:.3f}")' "$file" "$out")
  ez_kb=$(peak_kb "$DXF_BENCH_DIR/ez.time")
  rm -f "$out"
  # Ours: the benchmark's time per load+edit+save, and the peak of a process doing it.
  ours_s=$(/usr/bin/time -v -o "$DXF_BENCH_DIR/ours.time" "$bench" \
    --benchmark_filter="^BM_LoadEditSave/$n\$" --benchmark_min_time=0.5 \
    --benchmark_format=csv 2>/dev/null |
    awk -F, '/BM_LoadEditSave/ { printf "%.3f", $4 / 1000 }')
  ours_kb=$(peak_kb "$DXF_BENCH_DIR/ours.time")
  size_mb=$(awk -v b="$(stat -c %s "$file")" 'BEGIN { printf "%.1f", b / 1048576 }')
  awk -v n="$n" -v mb="$size_mb" -v es="$ez_s" -v ek="$ez_kb" -v os="$ours_s" -v ok="$ours_kb" \
    'BEGIN { printf "%-8s %9s | %10.3f %9.1f | %10.3f %9.1f | %7.1f %7.1f\n",
             n, mb, es, ek / 1024, os, ok / 1024, es / os, ek / ok }'
done
