#!/usr/bin/env bash
# Runs every benchmark: the kernels (Google Benchmark) and whole runs of the
# cases in bench/cases, with the fast build and with a build of the plain
# loops and printf formatting, and prints the tables of docs/desempenho.md.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh libbenchmark-dev libfftw3-dev nlohmann-json3-dev python3 time
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPLACATERMO_BENCH=ON >/dev/null
cmake --build build -j"$(nproc)" --target placatermo placatermo_bench
cmake -S . -B build-plain -DCMAKE_BUILD_TYPE=Release -DPLACATERMO_PLAIN_KERNELS=ON -DPLACATERMO_TESTS=OFF >/dev/null
cmake --build build-plain -j"$(nproc)" --target placatermo
out=build/bench-results
mkdir -p "$out"
./build/bench/placatermo_bench --benchmark_min_time=0.3 --benchmark_format=json --benchmark_out="$out/kernels.json" \
  --benchmark_out_format=json >/dev/null
python3 bench/report.py kernels "$out/kernels.json"
python3 bench/report.py runs build/placatermo build-plain/placatermo bench/cases
