#!/usr/bin/env bash
# The page's tests: the module's files against the native program's, then the
# page in a headless Chromium. Builds the module (cmake --preset web) and
# installs the page's npm packages (npm ci) when they are missing.
#   tests/web/run.sh PASTA_DO_PROGRAMA_NATIVO    (e.g. build)
set -euo pipefail
if [ $# -ne 1 ] || [ ! -x "$1/placatermo" ]; then
  echo "uso: tests/web/run.sh PASTA   (a pasta de compilação com o programa nativo placatermo)" >&2
  exit 2
fi
native="$(cd "$1" && pwd)/placatermo"
cd "$(dirname "$0")/../.."
# the page's build copies the chart from web/node_modules
[ -d web/node_modules ] || (cd web && npm ci --no-audit --no-fund >/dev/null)
cmake --preset web >/dev/null
cmake --build --preset web -j"$(nproc)" >/dev/null
# Debian's Emscripten module under node: NODE_PATH as the preset sets it
PLACATERMO_NATIVO="$native" NODE_PATH=/usr/share/nodejs node --test tests/web/
