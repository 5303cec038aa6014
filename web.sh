#!/usr/bin/env bash
# Builds the page (the library compiled to WebAssembly, the page's files and
# its chart) into build-web/site and serves it on this machine only:
#   ./web.sh [PORTA]      (8000 if not given)
set -euo pipefail
cd "$(dirname "$0")"
port="${1:-8000}"
scripts/ensure-packages.sh emscripten nodejs nlohmann-json3-dev
# some builds of nodejs carry npm themselves (and conflict with Debian's)
command -v npm >/dev/null 2>&1 || scripts/ensure-packages.sh npm
log="$(mktemp "${TMPDIR:-/tmp}/placatermo-web-XXXXXX.log")"
# the npm and compiler output is shown only when something fails
if ! (cd web && npm ci --no-audit --no-fund) >"$log" 2>&1; then
  echo "o npm ci em web/ falhou; a saída (guardada em $log):" >&2
  cat "$log" >&2
  exit 1
fi
if ! { cmake --preset web && cmake --build --preset web -j"$(nproc)"; } >"$log" 2>&1; then
  echo "a compilação da página falhou; a saída (guardada em $log):" >&2
  cat "$log" >&2
  exit 1
fi
rm -f "$log"
for file in index.html app.js worker.js placatermo.js placatermo.wasm placatermo-fios.js placatermo-fios.wasm \
    placatermo-fios.worker.js uPlot.iife.min.js; do
  [ -s "build-web/site/$file" ] || { echo "a compilação não gravou build-web/site/$file" >&2; exit 1; }
done
exec node web/serve.mjs build-web/site "$port"
