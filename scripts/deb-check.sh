#!/usr/bin/env bash
# Proves the Debian package of a build: makes placatermo_VERSION_amd64.deb
# with CPack, installs it with apt-get (its dependencies with it), runs the
# installed program from the PATH in an empty folder, finds its manual page
# with man and its completion with bash, and removes the package again.
# Needs root.
#   scripts/deb-check.sh [build]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
scripts/ensure-packages.sh dpkg-dev file man-db
work="$(mktemp -d)"
installed=0
finish() {
  status=$?
  if [ "$installed" -eq 1 ]; then
    apt-get remove -y -q placatermo >"$work/remove.log" 2>&1 || { echo "FALHOU: a remoção do pacote"; cat "$work/remove.log"; status=1; }
  fi
  rm -rf "$work"
  exit "$status"
}
trap finish EXIT
fail() { echo "FALHOU: $*"; exit 1; }

(cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "o cpack não fez o pacote"; }
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
deb="$build/placatermo_${version}_amd64.deb"
[ -f "$deb" ] || fail "o pacote não se chama $(basename "$deb"): $(ls "$build"/*.deb 2>/dev/null)"
echo "pacote: $(basename "$deb"), $(dpkg-deb -f "$deb" Depends); recomenda $(dpkg-deb -f "$deb" Recommends)"
dpkg-deb -f "$deb" Recommends | grep -q gnuplot-nox || fail "o pacote não recomenda o gnuplot-nox"
# the libraries come from dpkg-shlibdeps; without it cpack makes a package with no Depends
dpkg-deb -f "$deb" Depends | grep -q 'libstdc++6' || fail "o pacote não depende da biblioteca do C++ (libstdc++6)"

installed=1
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "./$deb" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "apt-get install ./$(basename "$deb")"; }
[ "$(command -v placatermo)" = /usr/bin/placatermo ] || fail "placatermo não está no PATH como /usr/bin/placatermo"
mkdir "$work/vazia"
(cd "$work/vazia" && env -i PATH=/usr/bin:/bin placatermo --batch) || fail "o programa instalado falhou"
for file in placatermo.ent placa.res placa.dis Tx.dat Ty.dat Tx.gnu Ty.gnu; do
  [ -f "$work/vazia/$file" ] || fail "a execução numa pasta vazia não gravou $file"
done
[ "$(man -w placatermo)" = /usr/share/man/man1/placatermo.1.gz ] ||
  fail "man -w placatermo: $(man -w placatermo 2>&1) (o sistema exclui /usr/share/man na instalação de pacotes?)"
completion=/usr/share/bash-completion/completions/placatermo
[ -f "$completion" ] || fail "falta $completion"
got=$(bash -c "source $completion; COMP_LINE='placatermo est'; COMP_POINT=14; _placatermo; echo \"\${COMPREPLY[*]}\"")
[ "$got" = estudo ] || fail "o completamento de 'placatermo est' deu [$got]"
for file in /usr/share/placatermo/Tx.gnu /usr/share/placatermo/Ty.gnu; do [ -f "$file" ] || fail "falta $file"; done
echo "pacote instalado, executado pelo PATH, manual e completamento: ok"
