#!/usr/bin/env bash
# Which files of a run folder one run of the program wrote, from a listing of
# the folder made before the run and one made after it (run.sh says these,
# and the files of earlier runs that it left as they were).
#   scripts/run-files.sh listar PASTA > LISTA
#   scripts/run-files.sh comparar NOME ANTES DEPOIS
# comparar prints "Resultados em NOME/: ..." and, when there are any,
# "Arquivos de execuções anteriores, deixados como estavam: ...".
set -euo pipefail
export LC_ALL=C

# One record per entry of the folder (NUL-separated, so any name goes): the
# name, then what a write changes. The change time (nanoseconds) and the inode
# change with every write, even of the same bytes in the same second with the
# modification time put back: a file the program wrote again counts as
# written, which a checksum of the bytes would miss. A folder's record covers
# everything under it.
listar() {
  local folder="$1" name
  find "$folder" -mindepth 1 -maxdepth 1 -printf '%P\0' | sort -z | while IFS= read -r -d '' name; do
    printf '%s\0' "$name"
    if [ -d "$folder/$name" ] && [ ! -L "$folder/$name" ]; then
      find "$folder/$name" -printf '%P %y %s %i %C@ %T@\n' | sort | cksum | tr -d '\n'
    else
      find "$folder/$name" -maxdepth 0 -printf '%y %s %i %C@ %T@'
    fi
    printf '\0'
  done
}

# A name as the user would type it: in double quotes when it has blanks or
# quotes; a folder with a slash.
shown() {
  local name="$1"
  [ "${2:-}" = pasta ] && name="$name/"
  case "$name" in
    *[[:space:]\"\'\\]*) printf '"%s"' "$name" ;;
    *) printf '%s' "$name" ;;
  esac
}

comparar() {
  local label="$1" name signature kind
  local -A before=()
  local written="" left=""
  while IFS= read -r -d '' name && IFS= read -r -d '' signature; do
    before["$name"]="$signature"
  done <"$2"
  while IFS= read -r -d '' name && IFS= read -r -d '' signature; do
    kind=""
    case "$signature" in [0-9]*) kind=pasta ;; esac  # a folder's record is a checksum
    if [ "$name" = placatermo.anterior ]; then
      # the program's own folder for the files of the last complete run: they
      # are earlier files, whatever the program took out of it
      left+=" $(shown "$name" pasta)"
    elif [ "${before[$name]+set}" != set ] || [ "${before[$name]}" != "$signature" ]; then
      written+=" $(shown "$name" "$kind")"
    elif [ "$name" != placatermo.ent ]; then
      # the input the run read is not an earlier run's file
      left+=" $(shown "$name" "$kind")"
    fi
  done <"$3"
  echo "Resultados em $label/:$written"
  [ -z "$left" ] || echo "Arquivos de execuções anteriores, deixados como estavam:$left"
}

case "${1:-}" in
  listar) listar "$2" ;;
  comparar) comparar "$2" "$3" "$4" ;;
  *) echo "uso: scripts/run-files.sh listar PASTA | comparar NOME ANTES DEPOIS" >&2; exit 2 ;;
esac
