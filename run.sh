#!/usr/bin/env bash
# Builds placatermo and runs the built-in default experiment in a fresh folder
# ./experimento (without the editor). Further arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-packages.sh gnuplot-nox || echo "aviso: sem gnuplot, os gráficos não serão gerados" >&2
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target placatermo -j"$(nproc)"
rm -rf experimento
mkdir experimento
cd experimento
../build/placatermo --batch "$@"
echo "Resultados em experimento/: $(ls | tr '\n' ' ')"
