#!/usr/bin/env bash
# Builds placatermo with its tests and runs them.
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-packages.sh libgtest-dev
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPLACATERMO_TESTS=ON >/dev/null
cmake --build build -j"$(nproc)"
ctest --test-dir build --output-on-failure -j"$(nproc)"
