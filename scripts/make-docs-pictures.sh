#!/usr/bin/env bash
# Draws the pictures of the README (docs/*.png) from the default experiment:
#   scripts/make-docs-pictures.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh gnuplot-nox
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target placatermo -j"$(nproc)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
(cd "$work" && "$OLDPWD"/build/placatermo --batch --graficos)
mkdir -p docs
for picture in Tx.png Ty.png historico.png campo.png erro.png; do
  cp "$work/$picture" docs/"$picture"
done
echo "docs/: $(ls docs | tr '\n' ' ')"
