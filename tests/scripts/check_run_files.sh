#!/usr/bin/env bash
# run.sh's list of what a run wrote (scripts/run-files.sh), on a folder
# changed by hand between the two listings as runs change it.
#   check_run_files.sh SCRIPT
set -uo pipefail
script="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
expect() {
  [ "$1" = "$2" ] || { printf 'FALHOU: %s\nesperado:\n%s\nobtido:\n%s\n' "$3" "$2" "$1"; failures=$((failures + 1)); }
}

# the first run: everything is new, input file included
mkdir e
bash "$script" listar e >antes
printf 'x' >e/placatermo.ent
printf 'r' >e/placa.res
expect "$(bash "$script" listar e >depois && bash "$script" comparar e antes depois)" "Resultados em e/: placa.res placatermo.ent" \
  "primeira execução"

# a later run without options: written again with the same bytes and the
# modification time put back (still written), written anew through a name
# moved aside (new inode), a new name with a blank; left: an earlier run's
# picture, a name with a blank, a user's folder, the program's folder of
# earlier files; the input it read is neither
printf 'c' >e/campo.png
printf 'v' >"e/caso velho.res"
mkdir e/meus e/placatermo.anterior
printf 'm' >e/meus/nota.txt
printf 't' >e/Tx.dat
bash "$script" listar e >antes
sleep 0.1  # past the clock tick of the file system's change times
cp -p e/placa.res referencia
printf 'r' >e/placa.res
touch -r referencia e/placa.res
mv e/Tx.dat e/placatermo.anterior/Tx.dat
printf 't' >e/Tx.dat
printf 'n' >"e/caso novo.res"
printf 'a' >e/placatermo.anterior/a.png
expect "$(bash "$script" listar e >depois && bash "$script" comparar e antes depois)" \
  "Resultados em e/: Tx.dat \"caso novo.res\" placa.res
Arquivos de execuções anteriores, deixados como estavam: campo.png \"caso velho.res\" meus/ placatermo.anterior/" \
  "execução seguinte"

# a file changed inside a user's folder: the folder counts as written
bash "$script" listar e >antes
sleep 0.1
printf 'M' >e/meus/nota.txt
expect "$(bash "$script" listar e >depois && bash "$script" comparar e antes depois | head -1)" "Resultados em e/: meus/" \
  "pasta mudada"

[ "$failures" -eq 0 ] && echo "ok" || exit 1
