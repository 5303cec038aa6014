#!/usr/bin/env bash
# The rules of the code's layout that a reader relies on, checked on the
# sources:
#   check_architecture.sh regras SRC      the rules below
#   check_architecture.sh face PROGRAM    a front end of the face, run in an
#                                         empty folder that must stay empty
set -euo pipefail
export LC_ALL=C

fail=0
broken() {
  echo "$1" >&2
  fail=1
}

rules() {
  local src="$1"
  cd "$src"
  # The core (the face, the writers and all they use) builds without the
  # program's platform: no include of it, and no file, process, terminal
  # or signal call of its own.
  local core=(base report grid solvers drivers results input experiment)
  local found
  found="$(grep -rnE '#include "(platform|run|studies)/|#include "platform/output_file.hpp"' "${core[@]}" || true)"
  [ -z "$found" ] || broken "o núcleo inclui a plataforma:"$'\n'"$found"
  found="$(grep -rnE '#include <(filesystem|fstream|csignal|unistd.h|fcntl.h|sys/[a-z]+.h|windows.h)>|std::fopen|std::system\(' \
             "${core[@]}" --exclude=errors.cpp || true)"
  [ -z "$found" ] || broken "o núcleo usa arquivos, processos ou sinais:"$'\n'"$found"
  # How a solution runs is one value chosen by the front end (the
  # execution): the speed machinery stays in the solvers.
  found="$(grep -rnE 'plain_kernels_only|SweepHelper' . | grep -vE '^./(solvers/|base/execution.hpp)' || true)"
  [ -z "$found" ] || broken "a maquinaria de velocidade fora dos solvers:"$'\n'"$found"
  # One dispatch from the solver's kind to its type, and its name.
  found="$(grep -rn 'case SolverKind::' . | grep -vE '^./solvers/(solver_types.hpp|solver_kind.cpp):' || true)"
  [ -z "$found" ] || broken "escolha pelo tipo de solver fora do despacho:"$'\n'"$found"
  # The record's fields are declared once: each JSON key of the record is
  # spelled in the one file that lists them.
  local key
  for key in $(grep -oE 'RecordField\{"[a-z_0-9]+"(, "[a-z_0-9]+")?' results/record.hpp | grep -oE '"[a-z_0-9]+"' | sort -u); do
    # (the VTK file's field and a picture's data block of the same name are
    # not the record's)
    found="$(grep -rlF "$key" . | grep -vE '^./results/record.hpp$' |
             { [ "$key" = '"erro"' ] && grep -vE '^./results/(vtk|pictures).cpp$' || cat; } || true)"
    [ -z "$found" ] || broken "a chave $key do registro também está em: $found"
  done
  # The studies' functions fit on a screen or two: none over 100 lines (a
  # body from its opening brace alone on a line to the closing one at the
  # same indentation).
  found="$(awk '
    FNR == 1 { open = "" }
    open == "" && /^( {4})?\{$/ { open = substr($0, 1, length($0) - 1); start = FNR; next }
    open != "" && $0 == open "}" { if (FNR - start - 1 > 100) print FILENAME ":" start ": " FNR - start - 1 " linhas"; open = "" }
  ' studies/*.cpp studies/*.hpp)"
  [ -z "$found" ] || broken "funções longas demais nos estudos:"$'\n'"$found"
  # The front ends meet the library at its face.
  found="$(grep -nE '#include "(drivers|solvers|grid)/' main.cpp run/*.cpp run/*.hpp || true)"
  [ -z "$found" ] || broken "o programa passa por cima da face da biblioteca:"$'\n'"$found"
}

face() {
  local program="$1" folder
  folder="$(mktemp -d)"
  trap 'rm -rf "$folder"' RETURN
  (cd "$folder" && "$program") || broken "$program terminou com erro"
  [ -z "$(ls -A "$folder")" ] || broken "$program gravou arquivos: $(ls -A "$folder")"
}

case "$1" in
  regras) rules "$2" ;;
  face) face "$2" ;;
  *) echo "uso: $0 regras SRC | face PROGRAMA" >&2; exit 2 ;;
esac
exit "$fail"
