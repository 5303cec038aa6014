#!/usr/bin/env bash
# Installs the Debian packages named on the command line that are missing.
set -euo pipefail
missing=()
for package in "$@"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if ! command -v apt-get >/dev/null 2>&1; then
  echo "faltam os pacotes ${missing[*]} e não há apt-get para instalá-los" >&2
  exit 1
fi
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null 2>&1 || { echo "instale como root: apt-get install ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
echo "Instalando ${missing[*]} ..."
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
