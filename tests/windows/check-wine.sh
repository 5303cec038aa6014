#!/usr/bin/env bash
# Checks the Windows program under wine: it imports only Windows system DLLs;
# the stored whole runs of tests/golden give the same files (runs of the
# sinusoidal plate apart from the last digits of values that pass through
# sin, sinh, cosh and tanh); the editor and the plotting program receive
# exactly `notepad "placatermo.ent"`, `wgnuplot "Tx.gnu"`, ... also for hostile
# names; a cmd.exe planted in the working folder is never run.
#   tests/windows/check-wine.sh build-windows/placatermo.exe
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source_dir="$(cd "$here/../.." && pwd)"
exe="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
work="$(mktemp -d)"
# the prefix's wineserver may still be writing there: stopped first
trap 'wineserver -k >/dev/null 2>&1 || true; wineserver -w >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
failures=0
fail() { echo "FALHOU: $*"; failures=$((failures + 1)); }
# "NAME ok" when the checks since the last call found nothing
checked=0 items=0 failed_items=0
report() {
  items=$((items + 1))
  if [ "$failures" -eq "$checked" ]; then echo "$1 ok"; else failed_items=$((failed_items + 1)); fi
  checked=$failures
}

echo "-- DLLs importadas"
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print $3}' | sort -u | tr '\n' ' ')
echo "$imports"
for dll in $imports; do
  case "${dll,,}" in
    kernel32.dll|msvcrt.dll|user32.dll|advapi32.dll|shell32.dll|ucrtbase.dll|api-ms-win-*) ;;
    *) fail "importa $dll, que não é uma DLL do sistema" ;;
  esac
done
report "DLLs"

x86_64-w64-mingw32-gcc -O2 -static -o "$work/stub.exe" "$here/stub.c"
x86_64-w64-mingw32-gcc -O2 -static -DPLANTED -o "$work/cmd.exe" "$here/stub.c"
wine cmd /c exit >/dev/null 2>&1 || true  # makes the prefix

# The program under wine in the run folder, with ARGS; standard output in
# $work/out, standard error in $work/err, the status the program's. When wine
# cannot load an image it hands it to its start.exe, which says so on standard
# output and ends with 1: then the program never ran, nothing is on standard
# error and the folder is as it was. Seen once in CI, on a run that passes
# on every other try: such a run is tried once more, and the log says so.
restarts=0
folder_state() { stat -c %y "$work/run"; ls -lA --time-style=full-iso "$work/run"; }
run_once() { (cd "$work/run" && wine "$exe" "$@" >"$work/out" 2>"$work/err"); }
run_program() {
  local before status=0
  before="$(folder_state)"
  run_once "$@" || status=$?
  [ "$status" -eq 1 ] && [ ! -s "$work/err" ] && [ "$(folder_state)" == "$before" ] || return "$status"
  echo "aviso: o wine não iniciou o programa ($(tr -d '\r' <"$work/out" | tr '\n' ' ')); tentado outra vez"
  restarts=$((restarts + 1))
  run_once "$@"
}

# A fresh folder with the stand-ins for notepad and wgnuplot.
prepare() {
  rm -rf "$work/run"; mkdir -p "$work/run"
  cp "$work/stub.exe" "$work/run/notepad.exe"
  cp "$work/stub.exe" "$work/run/wgnuplot.exe"
}

# The input of a stored run, as the tests write it: NAME GRIDS NX NY SOLVER BC INNER TOLERANCE [OPTION]
golden_input() {
  local values=("caso.res" "caso.dis" "placa.ite" "1.5" "0.8" "$1" "$2" "$3" "$7" "300" "$4" "1.0d-2" "$6" "1.6"
                "$5" "'Caso $4 com $1 malhas'")
  for value in "${values[@]}"; do printf '%s   = label\r\n' "$value"; done
}

echo "-- execuções guardadas"
while read -r name grids nx ny solver bc inner tolerance option; do
  prepare
  golden_input "$grids" "$nx" "$ny" "$solver" "$bc" "$inner" "$tolerance" >"$work/run/placatermo.ent"
  run_program $option || fail "$name: código de saída $?: $(cat "$work/err")"
  expected=$'notepad "placatermo.ent"\r\nwgnuplot "Tx.gnu"\r\nwgnuplot "Ty.gnu"\r\nnotepad "caso.res"\r'
  [ "$(cat "$work/run/comandos.log")" == "$(printf '%s' "$expected" | tr -d '\r')" ] ||
    [ "$(tr -d '\r' <"$work/run/comandos.log")" == "$(printf '%s' "$expected" | tr -d '\r')" ] ||
    fail "$name: comandos $(cat -A "$work/run/comandos.log")"
  tolerance_flag=""; [ "$bc" = 2 ] && tolerance_flag="--tolerance"
  python3 "$here/compare_runs.py" "$source_dir/tests/golden/$name" "$work/run" caso.res caso.dis Tx.dat Ty.dat Tx.gnu Ty.gnu \
    $tolerance_flag || fail "$name: arquivos diferentes"
  report "$name"
done <<'CASES'
jacobi_single 1 9 8 1 2 4 1e-5
gauss_seidel_single 1 7 6 2 1 3 1e-8
sor_single 1 10 10 3 1 2 1e-9
adi_single 1 12 9 4 2 1 1e-10
msi_single 1 10 7 5 2 6 1e-11
jacobi_multi 3 4 5 1 1 3 1e-6
gauss_seidel_multi 4 3 4 2 2 2 1e-7
sor_multi 2 5 4 3 1 2 1e-8
adi_multi 3 5 5 4 2 1 1e-9
msi_multi 4 3 3 5 1 2 1e-10
no_solver_multi 2 4 4 7 1 2 1e-6
jacobi_textbook 3 5 4 1 2 3 1e-7 --multigrid=classico
gauss_seidel_textbook 4 3 4 2 1 2 1e-9 --multigrid=classico
sor_textbook 3 4 4 3 2 2 1e-8 --multigrid=classico
adi_textbook 3 5 5 4 1 1 1e-9 --multigrid=classico
msi_textbook 4 3 3 5 2 2 1e-10 --multigrid=classico
CASES

# A name with %VARIABLE% of a variable that is set reaches the program
# unchanged on Windows, whose cmd expands the variable that carries it once;
# wine's cmd expands the result again, so here the variable is one that is not
# set.
echo "-- nomes hostis"
for hostile in 'a%NAO_DEFINIDA%b.res' '100%.res' 'x&y^z!w.res' 'com branco (1).res' 'a^b&&c.res'; do
  prepare
  printf "'%s'\r\nr.dis\r\nr.ite\r\n1.0\r\n1.0\r\n1\r\n5\r\n4\r\n1e-6\r\n50\r\n2\r\n1e-3\r\n5\r\n1.5\r\n1\r\n'T'\r\n" \
    "$hostile" >"$work/run/placatermo.ent"
  run_program || fail "$hostile: código de saída $?"
  [ -f "$work/run/$hostile" ] || fail "$hostile: o arquivo de resultados não tem esse nome"
  [ "$(tail -n 1 "$work/run/comandos.log" | tr -d '\r')" == "notepad \"$hostile\"" ] ||
    fail "$hostile: o editor recebeu $(tail -n 1 "$work/run/comandos.log")"
  report "$hostile"
done

echo "-- cmd.exe plantado na pasta de trabalho, sem COMSPEC"
prepare
cp "$work/cmd.exe" "$work/run/cmd.exe"
# the system's own cmd.exe unsets COMSPEC and starts the program
(cd "$work/run" && wine 'C:\windows\system32\cmd.exe' /c "set COMSPEC=&& $(winepath -w "$exe") --batch" >/dev/null 2>&1) ||
  true
[ -f "$work/run/placa.res" ] || fail "sem COMSPEC a execução não terminou"
[ -f "$work/run/cmd-plantado-executado.txt" ] && fail "o cmd.exe da pasta de trabalho foi executado"
[ "$(tr -d '\r' <"$work/run/comandos.log" 2>/dev/null)" == $'wgnuplot "Tx.gnu"\nwgnuplot "Ty.gnu"' ] ||
  fail "sem COMSPEC os gráficos não foram chamados: $(cat "$work/run/comandos.log" 2>/dev/null)"
report "cmd.exe"

# The input of a small run: RESULTS SUMMARY [NX] [OUTER] [TOLERANCE]
small_input() {
  printf "%s\r\n%s\r\nr.ite\r\n1.0\r\n1.0\r\n1\r\n%s\r\n%s\r\n%s\r\n%s\r\n2\r\n1e-3\r\n1\r\n1.5\r\n1\r\n'T'\r\n" \
    "$1" "$2" "${3:-5}" "${3:-4}" "${5:-1e-6}" "${4:-50}"
}

echo "-- nomes que são o mesmo arquivo (maiúsculas e minúsculas)"
for summary in "'CASO.RES'" "'Caso.Res'" "'PLACATERMO.ENT'" "'tx.GNU'"; do
  prepare
  mkdir -p "$work/run/sub"
  small_input caso.res "$summary" >"$work/run/placatermo.ent"
  cp "$work/run/placatermo.ent" "$work/entrada"
  if run_program --batch; then fail "$summary: aceito"; fi
  grep -q "é o mesmo arquivo que" "$work/err" || fail "$summary: mensagem $(cat "$work/err")"
  cmp -s "$work/entrada" "$work/run/placatermo.ent" || fail "$summary: a entrada mudou"
  [ -e "$work/run/Tx.dat" ] && fail "$summary: Tx.dat gravado"
  report "$summary"
done

# Devices, drives, folder parts and \\?\ paths are refused by the reader,
# with the line and the parameter, before anything is written anywhere.
echo "-- nomes que o Windows não grava como arquivo da pasta"
while read -r record name; do
  prepare
  if [ "$record" = 1 ]; then small_input "'$name'" r.dis; else small_input caso.res "'$name'"; fi >"$work/run/placatermo.ent"
  if run_program --batch; then fail "$name: aceito"; fi
  grep -q "linha $record, parâmetro .*o nome \"" "$work/err" || fail "$name: mensagem $(cat "$work/err")"
  [ "$(ls "$work/run" | tr '\n' ' ')" == "notepad.exe placatermo.ent wgnuplot.exe " ] ||
    fail "$name: gravou $(ls "$work/run")"
  [ -z "$(find "$work" -maxdepth 1 -name '*.res')" ] || fail "$name: gravou fora da pasta"
  [ -z "$(find "$WINEPREFIX/drive_c" -maxdepth 3 -name 'x*.res')" ] || fail "$name: gravou em C:"
  report "$name"
done <<'NAMES'
2 NUL
2 CON
2 nul.res
2 AUX.dis
2 CONIN$
2 \\.\NUL
2 ..\x.res
2 C:x.res
2 .\CASO.RES
2 sub\..\Caso.Res
2 ..
1 ..\x.res
1 C:x.res
1 \\?\C:\x.res
NAMES

echo "-- a execução anterior guardada quando a nova falha"
prepare
small_input caso.res caso.dis >"$work/run/placatermo.ent"
run_program --batch || fail "primeira execução: código $?"
cp "$work/run/caso.res" "$work/anterior.res"
mkdir "$work/run/pasta.dis"
small_input caso.res pasta.dis >"$work/run/placatermo.ent"
if run_program --batch; then fail "a execução com falha terminou bem"; fi
grep -q 'placatermo.anterior' "$work/err" || fail "a mensagem não diz onde: $(cat "$work/err")"
cmp -s "$work/anterior.res" "$work/run/placatermo.anterior/caso.res" || fail "caso.res anterior não foi guardado"
small_input caso.res caso.dis >"$work/run/placatermo.ent"
run_program --batch || fail "execução completa: código $?"
[ -e "$work/run/placatermo.anterior" ] && fail "placatermo.anterior ficou depois de uma execução completa"
report "placatermo.anterior"

echo "-- uma execução por pasta (LockFileEx)"
prepare
small_input caso.res caso.dis 302 1000000 1e-300 >"$work/run/placatermo.ent"
(cd "$work/run" && exec wine "$exe" --batch >/dev/null 2>&1) &
first=$!
for _ in $(seq 1 600); do
  grep -q '        20   ' "$work/run/caso.res" 2>/dev/null && break
  sleep 0.1
done
if run_program --batch; then fail "a segunda execução não foi recusada"; fi
grep -q 'em andamento' "$work/err" || fail "segunda execução: $(cat "$work/err")"
kill "$first" 2>/dev/null || true
wineserver -k >/dev/null 2>&1 || true
wait "$first" 2>/dev/null || true
report "bloqueio"

[ "$restarts" -eq 0 ] || echo "o wine não iniciou o programa $restarts vez(es); a segunda tentativa valeu"
echo "$((items - failed_items)) passed, $failed_items failed"
[ "$failures" -eq 0 ]
