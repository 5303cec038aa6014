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
