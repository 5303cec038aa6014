#!/usr/bin/env bash
# Draws the pictures that the README and the pages in docs/ show (docs/*.png)
# from the default experiment:
#   scripts/make-docs-pictures.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh gnuplot-nox imagemagick
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target placatermo -j"$(nproc)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
(cd "$work" && "$OLDPWD"/build/placatermo --batch --graficos)
mkdir -p docs
for picture in Tx.png Ty.png historico.png campo.png erro.png; do
  cp "$work/$picture" docs/"$picture"
done
# the worked example of docs/estudos.md: order of accuracy, sinusoidal
# plate, grids 8² to 256² (1 to 6 grids from 10 x 10)
mkdir -p "$work/estudo"
printf "placa.res\r\nplaca.dis\r\nplaca.ite\r\n1.0\r\n1.0\r\n1\r\n10\r\n10\r\n1e-10\r\n1000\r\n2\r\n1.0e-3\r\n5\r\n1.5\r\n2\r\n'Placa senoidal'\r\n" \
  >"$work/estudo/placatermo.ent"
(cd "$work/estudo" && "$OLDPWD"/build/placatermo estudo ordem --variar 6=1,2,3,4,5,6 --multigrid=classico 2>/dev/null)
cp "$work/estudo/ordem/erro_h.png" docs/estudo-erro-h.png
cp "$work/estudo/ordem/residuos.png" docs/estudo-residuos.png
cp "$work/estudo/ordem/estudo.md" docs/estudo-exemplo.md
# docs/arquivos.md, "Ver a iteração": one plate of 64 x 64 real volumes, by Gauss-Seidel on one grid and
# by the multigrid from 10 x 10 (4 grids); a still of each animation, and the
# levels' residuals of both cycles
iteration_input() { # grids, volumes of grid 1, tolerance, maximum of outer iterations
  printf "placa.res\r\nplaca.dis\r\nplaca.ite\r\n1.0\r\n1.0\r\n%s\r\n%s\r\n%s\r\n%s\r\n%s\r\n2\r\n1.0e-3\r\n5\r\n1.5\r\n2\r\n'Placa senoidal'\r\n" \
    "$1" "$2" "$2" "$3" "$4"
}
mkdir -p "$work/gs" "$work/especificado" "$work/classico"
iteration_input 1 66 1e-6 10000 >"$work/gs/placatermo.ent"
iteration_input 4 10 1e-8 1000 >"$work/especificado/placatermo.ent"
iteration_input 4 10 1e-8 1000 >"$work/classico/placatermo.ent"
(cd "$work/gs" && "$OLDPWD"/build/placatermo --batch --animacao 2>/dev/null)
(cd "$work/especificado" && "$OLDPWD"/build/placatermo --batch --graficos 2>/dev/null)
(cd "$work/classico" && "$OLDPWD"/build/placatermo --batch --graficos --animacao --multigrid=classico 2>/dev/null)
# frame k is iteration k + 1 among the first 40
convert "$work/gs/iteracoes.gif[0]" docs/iteracao-gs-1.png
convert "$work/gs/iteracoes.gif[19]" docs/iteracao-gs-20.png
convert "$work/classico/iteracoes.gif[1]" docs/iteracao-classico-2.png
cp "$work/especificado/niveis.png" docs/niveis-especificado.png
cp "$work/classico/niveis.png" docs/niveis-classico.png
echo "docs/: $(ls docs | tr '\n' ' ')"
