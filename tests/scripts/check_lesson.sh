#!/usr/bin/env bash
# Follows a lesson as its reader would:
#   check_lesson.sh LESSON PROGRAM_FOLDER
# runs the lines of each ```sh block in order, in one shell, in a fresh
# folder, with the program first on the PATH. After a mark
# "<!-- confere: ARQUIVO -->", each line of the next block must be found in
# that file (Windows-1252 read as such, CR LF as LF) or, for "saída", in
# what the sh block before it wrote on its standard output and error.
set -uo pipefail
lesson="$(realpath "$1")"
export PATH="$(realpath "$2"):$PATH"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
said="$work/saida.txt"
mkdir "$work/leitor"
cd "$work/leitor"

# a file as text: UTF-8 as it is, anything else as Windows-1252
as_text() {
  if iconv -f UTF-8 -t UTF-8 "$1" >/dev/null 2>&1; then tr -d '\r' <"$1"; else iconv -f WINDOWS-1252 -t UTF-8 "$1" | tr -d '\r'; fi
}

block="" mark="" commands=0 checks=0 failures=0 number=0
while IFS= read -r line <&3 || [ -n "$line" ]; do
  number=$((number + 1))
  if [ -z "$block" ]; then
    case "$line" in
      '<!-- confere: '*' -->') mark="${line#<!-- confere: }"; mark="${mark% -->}" ;;
      '```sh') block=sh; : >"$said" ;;
      '```'*) block=other ;;
    esac
    continue
  fi
  if [ "$line" = '```' ]; then
    [ "$block" = other ] && mark=""
    block=""
    continue
  fi
  if [ "$block" = sh ]; then
    commands=$((commands + 1))
    if ! eval "$line" >>"$said" 2>&1 </dev/null; then
      echo "FALHOU: linha $number, o comando terminou com erro: $line"
      cat "$said"
      exit 1
    fi
  elif [ -n "$mark" ]; then
    checks=$((checks + 1))
    if [ "$mark" = saída ]; then text="$(tr -d '\r' <"$said")"; else text="$(as_text "$mark" 2>/dev/null)"; fi
    if ! grep -qF -- "$line" <<<"$text"; then
      echo "FALHOU: linha $number: \"$line\" não está em $mark (na pasta $(basename "$PWD"))"
      failures=$((failures + 1))
    fi
  fi
done 3<"$lesson"
[ "$commands" -gt 0 ] && [ "$checks" -gt 0 ] || { echo "FALHOU: a aula não tem comandos ou conferências"; exit 1; }
[ "$failures" -eq 0 ] && echo "aula: $commands comandos, $checks linhas conferidas"
exit "$((failures > 0))"
