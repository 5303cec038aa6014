#!/usr/bin/env bash
# Builds placatermo with its tests and runs them.
set -euo pipefail
cd "$(dirname "$0")"
# GoogleTest; the JSON library of the run records; VTK's Python reader, which
# reads the VTK files back; gnuplot for the test that draws real pictures;
# bash-completion for the test that loads the completion as bash does
scripts/ensure-packages.sh --senao "nenhum teste foi executado" libgtest-dev nlohmann-json3-dev python3-vtk9 gnuplot-nox bash-completion
# in CI (CI=true) a new compiler warning fails the build
werror=OFF
[ "${CI:-}" = true ] && werror=ON
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPLACATERMO_TESTS=ON -DPLACATERMO_WERROR="$werror" >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)"
