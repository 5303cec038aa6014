#!/usr/bin/env bash
# The textbook job (Gauss-Seidel, 2 inner, ratio 1e-8, whole process with
# its files) against the least memory traffic it needs, at the triad
# bandwidth measured in the same run, and against PETSc CG + BoomerAMG on the
# same discrete system; medians of three alternated runs. See bench/bound.py.
#   bench/bound.sh [SIZES]     (default: "1024 2048 4096")
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh python3-petsc4py-real python3-numpy libbenchmark-dev time
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPLACATERMO_BENCH=ON >/dev/null
cmake --build build -j2 --target placatermo placatermo_triad >/dev/null
python3 bench/bound.py build/placatermo build/bench/placatermo_triad "${1:-1024 2048 4096}"
