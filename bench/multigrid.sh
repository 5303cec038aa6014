#!/usr/bin/env bash
# The two multigrid cycles side by side: cycles to a ratio of 1e-6 for each
# solver on finest grids of 66 to 1026 volumes a side (all grids down to
# 4 x 4), then a whole run of 1024 x 1024 real volumes to 1e-8 against PETSc
# solving the same discrete system. Prints Markdown tables for docs/multigrid.md.
#   bench/multigrid.sh [SIZES]     (default: "66 130 258 514 1026")
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh python3-petsc4py-real python3-numpy bc
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target placatermo >/dev/null
exe="$PWD/build/placatermo"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
sizes="${1:-66 130 258 514 1026}"

# run CYCLE GRIDS SOLVER INNER TOLERANCE MAX: prints "cycles last_ratio seconds"
run() {
  local folder="$work/run"
  rm -rf "$folder"; mkdir -p "$folder"
  printf 'r.res\r\nr.dis\r\nr.ite\r\n1.0\r\n1.0\r\n%s\r\n4\r\n4\r\n%s\r\n%s\r\n%s\r\n1e-3\r\n%s\r\n1.2\r\n2\r\n%s\r\n' \
    "$2" "$5" "$6" "$3" "$4" "'bench'" >"$folder/placatermo.ent"
  local start end
  start=$(date +%s.%N)
  (cd "$folder" && PATH=/nonexistent "$exe" --batch --multigrid="$1" 2>/dev/null)
  end=$(date +%s.%N)
  local last
  last=$(grep -aE '^  +[0-9]+ +[-0-9.EN+aI]+ ?.?$' "$folder/r.res" | tail -n 1 | tr -d '\r')
  echo "$(echo "$last" | awk '{print $1, $2}') $(echo "$end - $start" | bc)"
}

grids_of() { local n=$1 g=1 m=4; while [ "$m" -lt "$n" ]; do m=$(( (m - 2) * 2 + 2 )); g=$((g + 1)); done; echo "$g"; }

echo "| solver | inner | finest grid | grids | specified cycle | textbook cycle |"
echo "|---|---|---|---|---|---|"
for solver in "2 1 Gauss-Seidel" "2 5 Gauss-Seidel" "3 5 SOR(1.2)" "4 5 ADI" "5 5 MSI"; do
  set -- $solver
  for n in $sizes; do
    g=$(grids_of "$n")
    # the specified cycle is cut off where it would run for minutes
    cap=3000; [ "$n" -ge 514 ] && cap=600; [ "$n" -ge 1026 ] && cap=200
    read -r sc sr _ < <(run especificado "$g" "$1" "$2" 1e-6 "$cap")
    read -r tc tr _ < <(run classico "$g" "$1" "$2" 1e-6 3000)
    specified="$sc"; awk "BEGIN{exit !($sr > 1e-6)}" && specified="> $sc (razão $sr)"
    text="$tc"; awk "BEGIN{exit !($tr > 1e-6)}" && text="> $tc (razão $tr)"
    echo "| $3 | $2 | ${n}² | $g | $specified | $text |"
  done
done

echo
echo "Whole run, 1024 x 1024 real volumes (1026² with the ghosts), sinusoidal plate, ratio 1e-8:"
echo
echo "| method | seconds (median of 3) | iterations |"
echo "|---|---|---|"
times=()
for _ in 1 2 3; do
  read -r cycles _ seconds < <(run classico 10 2 5 1e-8 200)
  times+=("$seconds")
done
median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 2p)
echo "| placatermo --batch --multigrid=classico, Gauss-Seidel 5 inner (whole process, files written) | $median | $cycles cycles |"
petsc_dir=/usr/lib/petscdir/petsc3.18/x86_64-linux-gnu-real
for method in boomeramg gamg; do
  results=()
  for _ in 1 2 3; do
    results+=("$(PETSC_DIR=$petsc_dir PYTHONPATH=$petsc_dir/lib/python3/dist-packages /usr/bin/python3 bench/petsc_plate.py 1024 $method)")
  done
  median=$(printf '%s\n' "${results[@]}" | sort -k2 -n | sed -n 2p)
  echo "| PETSc CG + $method (assembly, set-up and solve) | $(echo "$median" | awk '{print $2}') | $(echo "$median" | awk '{print $3}') |"
done
