#!/usr/bin/env bash
# The completion of placatermo's command line, with bash itself.
#   check_completion.sh direta    COMPLETION_FILE
#     sources the file and completes a table of command lines
#   check_completion.sh instalada BUILD_FOLDER
#     installs the build under a fresh prefix and checks that bash-completion
#     loads the completion from there, and the manual page and the data are
#     in place (exit 77, skipped, without bash-completion)
#   check_completion.sh opcoes    PROGRAM SOURCE_FOLDER
#     every option the program's usage texts name is in the completion and
#     in the manual page
set -uo pipefail
mode="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0

if [ "$mode" = instalada ]; then
  loader=/usr/share/bash-completion/bash_completion
  if [ ! -f "$loader" ]; then
    echo "sem bash-completion ($loader): teste pulado (./test.sh instala o pacote bash-completion)"
    exit 77
  fi
  # as the README says for one user: the prefix ~/.local
  prefix="$work/.local"
  cmake --install "$2" --prefix "$prefix" >/dev/null || { echo "FALHOU: cmake --install"; exit 1; }
  for file in bin/placatermo share/placatermo/Tx.gnu share/placatermo/Ty.gnu share/man/man1/placatermo.1.gz \
              share/bash-completion/completions/placatermo; do
    [ -f "$prefix/$file" ] || { echo "FALHOU: falta $file"; failures=$((failures + 1)); }
  done
  gzip -t "$prefix/share/man/man1/placatermo.1.gz" || { echo "FALHOU: o manual não é gzip"; failures=$((failures + 1)); }
  # bash-completion finds completions in bash-completion/completions of the
  # user's data folder (~/.local/share) and of the system's data folders
  for how in "PATH=/usr/bin:/bin" "XDG_DATA_DIRS=$prefix/share"; do
    home="$work"
    [ "${how%%=*}" = XDG_DATA_DIRS ] && home="$work/outro"
    found=$(env -i HOME="$home" "$how" bash -c "source $loader >/dev/null 2>&1
      __load_completion placatermo >/dev/null 2>&1 || _completion_loader placatermo >/dev/null 2>&1
      complete -p placatermo 2>/dev/null")
    [ "$found" = "complete -F _placatermo placatermo" ] ||
      { echo "FALHOU: com $how bash-completion não carregou o completamento: [$found]"; failures=$((failures + 1)); }
  done
  [ "$failures" -eq 0 ] && echo "instalação: ok"
  exit "$((failures > 0))"
fi

if [ "$mode" = opcoes ]; then
  options=$( ("$2" --help; "$2" estudo 2>&1) | grep -oE -- '--[a-z]+(=[a-z]+)?' | sed 's/=.*/=/' | sort -u)
  [ -n "$options" ] || { echo "FALHOU: nenhuma opção no texto de uso"; exit 1; }
  for option in $options estudo; do
    for file in packaging/placatermo.bash-completion packaging/placatermo.1; do
      # the manual writes a hyphen as \-
      grep -qF -- "$option" "$3/$file" || grep -qF -- "${option//-/\\-}" "$3/$file" ||
        { echo "FALHOU: $option não está em $file"; failures=$((failures + 1)); }
    done
  done
  [ "$failures" -eq 0 ] && echo "opções: ok ($(echo $options))"
  exit "$((failures > 0))"
fi

completion="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"
[ -f "$completion" ] || { echo "FALHOU: não há $2"; exit 1; }
mkdir -p "$work/ordem" "$work/outra"
touch "$work/arquivo"
cd "$work"
# the line before the cursor | the completions, sorted, joined by blanks
while IFS='|' read -r line expected; do
  got=$(COMP_WORDBREAKS=$' \t\n"\'><=;|&(:' bash -c 'source "$1"
    COMP_LINE="$2"; COMP_POINT=${#2}; _placatermo; printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "' \
    _ "$completion" "$line")
  if [ "${got% }" != "$expected" ]; then
    echo "FALHOU: [$line] deu [${got% }], esperado [$expected]"
    failures=$((failures + 1))
  fi
done <<'TABLE'
placatermo |--animacao --batch --definir --graficos --help --json --multigrid=classico --multigrid=especificado --multigrid=rapido --version --vtk estudo
placatermo est|estudo
placatermo --g|--graficos
placatermo --multigrid=c|classico
placatermo --multigrid=|classico especificado rapido
placatermo --batch es|
placatermo --batch --v|--version --vtk
placatermo estudo |ordem/ outra/
placatermo estudo or|ordem/
placatermo estudo ordem |--coletar --continuar --help --multigrid=classico --multigrid=especificado --multigrid=especificado,classico --multigrid=rapido --preparar --tarefas --variar
placatermo estudo ordem --p|--preparar
placatermo estudo ordem --variar |10= 11= 12= 13= 14= 15= 4= 5= 6= 7= 8= 9= cc= iteracoes_externas_max= iteracoes_internas_max= lx= ly= malhas= nx= ny= relaxacao_sor= solver= tolerancia= tolerancia_msi=
placatermo estudo ordem --variar 1|10= 11= 12= 13= 14= 15=
placatermo estudo ordem --variar so|solver=
placatermo --batch --definir 1|10= 11= 12= 13= 14= 15= 16= 1=
placatermo --batch --definir t|titulo= tolerancia= tolerancia_msi=
placatermo --definir solver=g|gauss-seidel
placatermo --definir 15=|linear senoidal
placatermo estudo ordem --variar 6=|
placatermo estudo ordem --variar 6=1,2 --multigrid=especificado,|especificado,classico
placatermo estudo ordem --tarefas |
TABLE
[ "$failures" -eq 0 ] && echo "completamento: ok"
exit "$((failures > 0))"
