#!/usr/bin/env bash
# The textbook job (the fast cycle by default; Gauss-Seidel, 2 inner, ratio 1e-8, whole process with
# its files) against the least memory traffic it needs, at the triad
# bandwidth measured in the same run, against PETSc CG + BoomerAMG and
# against FFTW's fast Poisson solver on the same discrete system; medians of
# three alternated runs. See bench/bound.py.
#   bench/bound.sh [--sem-petsc] [--ciclo=classico] [SIZES]     (default: "1024 2048 4096")
# --sem-petsc leaves PETSc out: the FFTW race alone takes a few minutes;
# --ciclo=classico races the textbook cycle instead of the fast one.
set -euo pipefail
cd "$(dirname "$0")/.."
petsc=(python3-petsc4py-real python3-numpy)
flags=()
if [ "${1:-}" = "--sem-petsc" ]; then
  petsc=()
  flags=(--sem-petsc)
  shift
fi
if [ "${1:-}" = "--ciclo=classico" ] || [ "${1:-}" = "--ciclo=rapido" ]; then
  flags+=("$1")
  shift
fi
case "${1:-}" in
  -*) echo "bench/bound.sh: opção desconhecida: $1 (uso: bench/bound.sh [--sem-petsc] [--ciclo=classico] [TAMANHOS])" >&2; exit 2 ;;
esac
scripts/ensure-packages.sh "${petsc[@]}" libbenchmark-dev libfftw3-dev time util-linux
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPLACATERMO_BENCH=ON >/dev/null
cmake --build build -j2 --target placatermo placatermo_triad placatermo_fftw >/dev/null
python3 bench/bound.py "${flags[@]}" build/placatermo build/bench/placatermo_triad build/bench/placatermo_fftw \
  "${1:-1024 2048 4096}"
