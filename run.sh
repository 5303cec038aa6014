#!/usr/bin/env bash
# Builds placatermo and runs it in the folder ./experimento without the editor
# (further arguments go to the program, for example --graficos or --vtk). The
# first time the folder is made and the program writes its default experiment
# there; later calls run the experiment that is in the folder, as edited.
set -euo pipefail
cd "$(dirname "$0")"
# the JSON library that the build needs
scripts/ensure-packages.sh nlohmann-json3-dev
# without gnuplot (and no way to install it) the program itself says so, once
scripts/ensure-packages.sh --opcional gnuplot-nox
# the tests are ./test.sh's: configured without them, nothing is said about
# GoogleTest; the compiler's output is shown only when the build fails
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPLACATERMO_TESTS=OFF >/dev/null
log="$(mktemp "${TMPDIR:-/tmp}/placatermo-build-XXXXXX.log")"
if ! cmake --build build --target placatermo -j"$(nproc)" >"$log" 2>&1; then
  echo "a compilação falhou; a saída do compilador (guardada em $log):" >&2
  cat "$log" >&2
  exit 1
fi
rm -f "$log"
echo "O programa está em build/placatermo; para chamá-lo como placatermo de qualquer pasta, instale-o"
echo "(README, \"Instalar\"): cmake --install build --prefix ~/.local"
mkdir -p experimento
# what this run wrote, told apart from what earlier runs left in the folder
# (from listings before and after); a failed run lists nothing: the program
# has said what went wrong, and run.sh ends with its status
listing="$(mktemp -d "${TMPDIR:-/tmp}/placatermo-run-XXXXXX")"
trap 'rm -rf "$listing"' EXIT
scripts/run-files.sh listar experimento >"$listing/antes"
status=0
(cd experimento && ../build/placatermo --batch "$@") || status=$?
[ "$status" -eq 0 ] || exit "$status"
scripts/run-files.sh listar experimento >"$listing/depois"
scripts/run-files.sh comparar experimento "$listing/antes" "$listing/depois"
