#!/usr/bin/env bash
# A study of 200 small runs (8² to 64² real volumes; 1 to 4 grids, five
# solvers, 1 to 10 inner iterations) on all cores, without a plotting
# program: its wall time against the sum of the runs' processing times
# divided by the cores.
#   bench/study.sh
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target placatermo >/dev/null
exe="$PWD/build/placatermo"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
printf "placa.res\r\nplaca.dis\r\nplaca.ite\r\n1.0\r\n1.0\r\n1\r\n10\r\n10\r\n1e-6\r\n1000\r\n2\r\n1e-3\r\n5\r\n1.2\r\n2\r\n'bench'\r\n" >placatermo.ent
start=$(date +%s.%N)
PATH=/nonexistent "$exe" estudo e --variar 6=1,2,3,4 --variar 11=1,2,3,4,5 --variar 13=1,2,3,4,5,6,7,8,9,10 \
  --multigrid=classico 2>/dev/null || true
end=$(date +%s.%N)
cores=$(nproc)
python3 - "$start" "$end" "$cores" <<'PY'
import csv, sys
start, end, cores = float(sys.argv[1]), float(sys.argv[2]), int(sys.argv[3])
rows = list(csv.DictReader(open("e/estudo.csv")))
total = sum(float(r["tempo_s"] or 0) for r in rows)
wall = end - start
print(f"runs {len(rows)}, completed {sum(r['estado'] == 'ok' for r in rows)}")
print(f"wall {wall:.2f} s, sum of processing times {total:.2f} s, cores {cores}")
print(f"wall / (sum / cores) = {wall / (total / cores):.2f}")
PY
