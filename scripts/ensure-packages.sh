#!/usr/bin/env bash
# Installs the Debian packages named on the command line that are missing,
# saying one line for each (what it is and what it is for); the whole output
# of apt-get and dpkg goes to a log file, shown only when the install fails.
#   scripts/ensure-packages.sh [--opcional] [--senao TEXTO] PACOTE...
# --opcional    when they cannot be installed (not root and no sudo), says
#               nothing and succeeds: the program itself says what it misses
# --senao TEXTO what does not happen without them, said when they cannot be
#               installed, before the command to run as root
set -euo pipefail
optional=0
consequence=""
while [ $# -gt 0 ]; do
  case "$1" in
    --opcional) optional=1; shift ;;
    --senao) consequence="$2"; shift 2 ;;
    *) break ;;
  esac
done

purpose() {
  case "$1" in
    gnuplot-nox) echo "o gnuplot, que desenha os gráficos" ;;
    libgtest-dev) echo "o GoogleTest, com que os testes são compilados" ;;
    nlohmann-json3-dev) echo "a biblioteca JSON, com que o programa grava e lê os registros das execuções" ;;
    libbenchmark-dev) echo "o Google Benchmark, com que os benchmarks são compilados" ;;
    libfftw3-dev) echo "o FFTW, o solver rápido de Poisson com que a corrida dos benchmarks compara o programa" ;;
    time) echo "o GNU time, que mede o pico de memória dos benchmarks" ;;
    python3-vtk9) echo "o leitor de VTK, que confere nos testes os arquivos .vtk" ;;
    bash-completion) echo "o completamento do bash, que os testes do completamento carregam" ;;
    man-db) echo "o comando man, para conferir o manual instalado" ;;
    dpkg-dev) echo "as ferramentas de pacotes, que dão ao .deb as bibliotecas de que ele depende" ;;
    file) echo "o file, com que o cpack reconhece o programa que vai no .deb" ;;
    debootstrap) echo "o debootstrap, que faz o Debian novo em que o README é seguido" ;;
    slurm-wlm) echo "o Slurm, para conferir os estudos num cluster de um nó" ;;
    munge) echo "a autenticação de que o Slurm precisa" ;;
    g++-mingw-w64-x86-64-posix) echo "o compilador cruzado, que faz o programa do Windows" ;;
    wine | wine64) echo "o wine, que roda o programa do Windows" ;;
    python3) echo "o Python, que compara as execuções do Windows" ;;
    pybind11-dev) echo "o pybind11, com que o módulo Python é compilado" ;;
    python3-dev) echo "os cabeçalhos do Python, para o módulo Python" ;;
    python3-numpy) echo "o NumPy, que recebe os campos do módulo Python" ;;
    python3-pytest) echo "o pytest, que roda os testes do módulo Python" ;;
    python3-matplotlib) echo "o matplotlib, que desenha os gráficos do caderno de exemplo" ;;
    python3-ipykernel) echo "o núcleo do Jupyter, que executa o caderno de exemplo" ;;
    jupyter-nbconvert) echo "o nbconvert, que executa o caderno de exemplo na integração contínua" ;;
    python3-pandas) echo "o pandas, em que o módulo Python dá a tabela de um estudo" ;;
    imagemagick) echo "o ImageMagick, que tira quadros da animação para as figuras do README" ;;
    clang) echo "o clang, que compila os alvos de fuzzing" ;;
    libclang-rt-14-dev) echo "o libFuzzer do clang" ;;
    emscripten) echo "o Emscripten, que compila a biblioteca para WebAssembly (a página no navegador)" ;;
    chromium-headless-shell) echo "o Chromium sem janela, em que os testes abrem a página" ;;
    nodejs) echo "o Node.js, que roda os testes da página e serve os arquivos dela" ;;
    npm) echo "o npm, que instala os pacotes fixados da página (o gráfico e o controle do navegador)" ;;
    emscripten) echo "o Emscripten, que compila o programa para WebAssembly, para a página" ;;
    nodejs) echo "o Node.js, que serve a página neste computador" ;;
    npm) echo "o npm, que instala o gráfico da página (uPlot) e o navegador dos testes" ;;
    *) echo "pedido por $(basename "${0}")" ;;
  esac
}

missing=()
for package in "$@"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0
command_line="apt-get install ${missing[*]}"

cannot_install() {
  [ "$optional" -eq 1 ] && exit 0
  echo "faltam pacotes e não há como instalá-los ($1):" >&2
  for package in "${missing[@]}"; do echo "  $package: $(purpose "$package")" >&2; done
  echo "${consequence:+$consequence; }como root: $command_line" >&2
  exit 1
}

command -v apt-get >/dev/null 2>&1 || cannot_install "não há apt-get"
# as root apt-get runs as it is; otherwise through sudo, which drops the
# environment: the variable goes on the command line
as_root=(env DEBIAN_FRONTEND=noninteractive)
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null 2>&1 || cannot_install "não se é root e não há sudo"
  as_root=(sudo env DEBIAN_FRONTEND=noninteractive)
fi
for package in "${missing[@]}"; do echo "instalando $package: $(purpose "$package")"; done
log="$(mktemp "${TMPDIR:-/tmp}/placatermo-apt-XXXXXX.log")"
if "${as_root[@]}" apt-get update -q >"$log" 2>&1 &&
  "${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" >>"$log" 2>&1 </dev/null; then
  rm -f "$log"
  exit 0
fi
echo "a instalação falhou; a saída do apt-get (guardada em $log):" >&2
cat "$log" >&2
echo "${consequence:+$consequence; }como root: $command_line" >&2
exit 1
