#!/usr/bin/env bash
# Follows the README on a new machine: makes a minimal Debian 12 with
# debootstrap, from the mirror that this machine's own apt sources name,
# installs only g++, CMake and git in it, clones the commit under test and
# runs there, as root, with no LANG and no input, the commands of the README's
# blocks marked "<!-- máquina nova: PASSO -->", in their order (./test.sh
# aside, which runs on the CI machine itself; man runs as man -w, which needs
# no terminal). Then checks what they made: the experiment's results, no
# warning from ./run.sh, a package that depends on the C++ library, a manual
# page with its accents under LANG=C.UTF-8. On a failure one line says the
# step and the command, and that step's output follows. Nothing is kept: the
# mounts are undone and the machine removed on every way out. Needs root.
#   scripts/fresh-machine-check.sh
# PLACATERMO_README=FILE takes the commands from another copy of the README
# (to see a broken line fail).
set -euo pipefail
readme="$(realpath "${PLACATERMO_README:-$(dirname "$0")/../README.md}")"
cd "$(dirname "$0")/.."
[ "$(id -u)" -eq 0 ] || { echo "FALHOU: a máquina nova precisa de root (debootstrap, chroot, mount)"; exit 1; }
[ -f "$readme" ] || { echo "FALHOU: não há o README $readme"; exit 1; }
started=$SECONDS

# The commands of the marked blocks, one a line: STEP<TAB>COMMAND. A line
# continued with a backslash is joined to the next; blank and comment lines
# are left out. A mark must be followed by a fenced block.
commands="$(awk '
  /^<!-- máquina nova: .* -->$/ {
    if (want) exit 2
    step = $0; sub(/^<!-- máquina nova: /, "", step); sub(/ -->$/, "", step); want = 1; next
  }
  want && !inblock && /^```/ { inblock = 1; next }
  want && !inblock && NF { exit 2 }
  inblock && /^```/ { inblock = 0; want = 0; next }
  inblock {
    line = pending $0; pending = ""
    if (line ~ /\\$/) { pending = substr(line, 1, length(line) - 1); next }
    if (line ~ /^[ \t]*(#|$)/) next
    print step "\t" line
  }
  END { if (want) exit 2 }
' "$readme")" || { echo "FALHOU: o README $readme tem uma marca \"máquina nova\" que não precede um bloco"; exit 1; }
[ -n "$commands" ] || { echo "FALHOU: o README $readme não tem blocos marcados <!-- máquina nova: PASSO -->"; exit 1; }

# The Debian mirror that this machine's apt sources name for bookworm itself:
# the first URI of a deb822 entry of the suite, or of a one-line entry.
debian_mirror() {
  local file
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    awk 'BEGIN { RS = ""; FS = "\n" }
      {
        types = ""; uris = ""; suites = ""; enabled = "yes"
        for (i = 1; i <= NF; i++) {
          if ($i ~ /^#/) continue
          split($i, kv, ":"); key = tolower(kv[1]); value = substr($i, length(kv[1]) + 2)
          gsub(/^[ \t]+|[ \t]+$/, "", value)
          if (key == "types") types = value
          else if (key == "uris") uris = value
          else if (key == "suites") suites = value
          else if (key == "enabled") enabled = tolower(value)
        }
        if (enabled != "no" && (" " types " ") ~ / deb / && (" " suites " ") ~ / bookworm /) {
          split(uris, uri, /[ \t]+/); print uri[1]; exit
        }
      }' "$file"
  done
  if [ -f /etc/apt/sources.list ]; then
    sed 's/\[[^]]*\]//' /etc/apt/sources.list | awk '$1 == "deb" && $3 == "bookworm" { print $2; exit }'
  fi
}
mirror="$(debian_mirror | head -n 1)"
[ -n "$mirror" ] || {
  echo "FALHOU: as fontes do apt desta máquina (/etc/apt/sources.list.d/*.sources, /etc/apt/sources.list) não dão um espelho do Debian para bookworm"
  exit 1
}
commit="$(git rev-parse HEAD)"
scripts/ensure-packages.sh --senao "a máquina nova não foi feita" debootstrap

work="$(mktemp -d "${TMPDIR:-/var/tmp}/placatermo-maquina-nova-XXXXXX")"
root="$work/raiz"
logs="$work/saidas"
mkdir -p "$root" "$logs"
mounted=()
finish() {
  local status=$? i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" 2>/dev/null || true
  done
  # removed only when nothing is mounted under it, and never across file systems
  if grep -qF " $root/" /proc/mounts; then
    echo "FALHOU: ainda há sistemas de arquivos montados em $root; a pasta fica"
    status=1
  else
    rm -rf --one-file-system "$work"
  fi
  exit "$status"
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

count=0
# step NAME COMMAND_AS_SHOWN PROGRAM...: runs the program with its output in a
# log of its own; on a failure says the step and the command in one line,
# shows the log and ends.
step() {
  local name="$1" shown="$2" from=$SECONDS
  shift 2
  count=$((count + 1))
  log="$logs/$count.log"
  echo "-- $name: $shown"
  if ! "$@" >"$log" 2>&1 </dev/null; then
    echo "FALHOU na máquina nova, passo \"$name\", comando: $shown; a saída dele:"
    cat "$log"
    exit 1
  fi
  echo "   ($((SECONDS - from)) s)"
}
# Runs a shell command in the new machine as its root would, in a login's
# bare environment: no LANG, no CI, no input.
in_machine() {
  chroot "$root" /usr/bin/env -i HOME=/root USER=root LOGNAME=root SHELL=/bin/bash TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
    /bin/bash -c "$1"
}
mount_in() {
  mkdir -p "$root$2"
  mount "${@:3}" "$1" "$root$2" || { echo "FALHOU: mount ${*:3} $1 $root$2"; exit 1; }
  mounted+=("$root$2")
}

step "Debian 12 mínimo" "debootstrap --variant=minbase bookworm $mirror" \
  debootstrap --variant=minbase bookworm "$root" "$mirror"
mount_in proc /proc -t proc
mount_in sysfs /sys -t sysfs
mount_in /dev /dev --bind
mount_in /dev/pts /dev/pts --bind
printf '127.0.0.1\tlocalhost\n127.0.1.1\t%s\n' "$(hostname)" >"$root/etc/hosts"
cp -L /etc/resolv.conf "$root/etc/resolv.conf"
# apt asks before installing what a package depends on; the user says yes
echo 'APT::Get::Assume-Yes "true";' >"$root/etc/apt/apt.conf.d/90sim"
step "g++, CMake e git" "apt-get install g++ cmake git" \
  in_machine "apt-get update && apt-get install g++ cmake git"
clone() {
  git clone --quiet --no-checkout "$PWD" "$root/root/placatermo" && git -C "$root/root/placatermo" checkout --quiet "$commit"
}
step "clone" "git clone (commit ${commit:0:12})" clone

while IFS=$'\t' read -r name command; do
  case "$command" in
    ./test.sh*) echo "-- $name: $command: fica para a própria máquina do CI"; continue ;;
    "man "*) command="man -w ${command#man }" ;;
  esac
  step "$name" "$command" in_machine "cd /root/placatermo || exit 1
$command"
  case "$command" in
    ./run.sh*)
      if grep -inE 'warning|aviso' "$log" >"$logs/avisos"; then
        echo "FALHOU na máquina nova, passo \"$name\": $command disse um aviso:"
        cat "$logs/avisos"
        exit 1
      fi
      [ -s "$root/root/placatermo/experimento/placa.res" ] ||
        { echo "FALHOU na máquina nova, passo \"$name\": $command não gravou experimento/placa.res"; exit 1; }
      ;;
    *"cpack -G DEB"*)
      debs=("$root"/root/placatermo/build/placatermo_*_amd64.deb)
      deb="${debs[0]}"
      [ -f "$deb" ] || { echo "FALHOU na máquina nova, passo \"$name\": $command não fez build/placatermo_*_amd64.deb"; exit 1; }
      depends="$(dpkg-deb -f "$deb" Depends)"
      [[ "$depends" == *libstdc++6* ]] ||
        { echo "FALHOU na máquina nova, passo \"$name\": o pacote não depende da biblioteca do C++ (Depends: $depends)"; exit 1; }
      echo "   $(basename "$deb"): Depends: $depends"
      ;;
    "man -w "*)
      # and shown in a UTF-8 locale, the page has its accents
      in_machine "LANG=C.UTF-8 man ${command#man -w }" >"$logs/manual" 2>&1 </dev/null || true
      grep -q "difusão" "$logs/manual" ||
        { echo "FALHOU na máquina nova, passo \"$name\": sob LANG=C.UTF-8 o manual não mostra os acentos:"; head -n 8 "$logs/manual"; exit 1; }
      ;;
  esac
done <<<"$commands"
echo "máquina nova: o README seguido num Debian 12 mínimo, ok ($((SECONDS - started)) s)"
