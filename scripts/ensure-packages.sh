#!/usr/bin/env bash
# Installs the Debian packages named on the command line that are missing.
set -euo pipefail
missing=()
for package in "$@"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
hint="instale como root: apt-get install ${missing[*]}"
if ! command -v apt-get >/dev/null 2>&1; then
  echo "faltam os pacotes ${missing[*]} e não há apt-get para instalá-los" >&2
  exit 1
fi
# as root apt-get runs as it is; otherwise through sudo, which drops the
# environment: the variable goes on the command line
as_root=(env DEBIAN_FRONTEND=noninteractive)
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null 2>&1 || { echo "$hint" >&2; exit 1; }
  as_root=(sudo env DEBIAN_FRONTEND=noninteractive)
fi
echo "Instalando ${missing[*]} ..."
if ! "${as_root[@]}" apt-get update -qq || \
   ! "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"; then
  echo "não foi possível instalar os pacotes; $hint" >&2
  exit 1
fi
