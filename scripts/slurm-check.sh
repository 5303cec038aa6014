#!/usr/bin/env bash
# Proves the Slurm path of studies on this machine: starts a single-node
# Slurm cluster from Debian's packages (slurm-wlm, munge), prepares a small
# study, submits its job array with sbatch, waits, collects, and checks that
# the table equals the one of the same study run directly (times aside).
# Every wait is bounded and says what it waited for; on a failure the daemons'
# logs are printed and kept. The daemons talk over 127.0.0.1, so the host
# name need not resolve. Needs root; stops the daemons it started.
#   scripts/slurm-check.sh [build/placatermo]
set -euo pipefail
cd "$(dirname "$0")/.."
exe="$(cd "$(dirname "${1:-build/placatermo}")" && pwd)/$(basename "${1:-build/placatermo}")"
scripts/ensure-packages.sh --senao "a verificação do Slurm não rodou" slurm-wlm munge
# slurmd does not start without a cgroup file system, whatever its plugins
cgroup_mounted() {
  [ -f /sys/fs/cgroup/cgroup.controllers ] && return 0                   # version 2
  for procs in /sys/fs/cgroup/*/cgroup.procs; do [ -f "$procs" ] && return 0; done  # version 1
  return 1
}
if ! cgroup_mounted; then
  echo "FALHOU: não há sistema de arquivos cgroup montado em /sys/fs/cgroup, sem o qual o slurmd não inicia;"
  echo "como root: mount -t cgroup2 none /sys/fs/cgroup"
  echo "0 passed, 1 failed"
  exit 1
fi

work="$(mktemp -d)"
chmod 755 "$work"  # the munge user reaches its folder through it
host="$(hostname -s)"
pids=()
passed=0
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  if [ "$passed" -eq 1 ]; then rm -rf "$work"; fi
}
trap cleanup EXIT

# Says what failed, prints the daemons' logs and keeps them, and ends.
fail() {
  echo "FALHOU: $*"
  # a limit of the host, which slurmd states only in English among its logs
  if grep -qs "Hybrid mode is not supported" "$work"/slurmd.log "$work"/slurmd.out; then
    echo "o slurmd não roda neste host: ele mistura as versões 1 e 2 do cgroup (modo híbrido), que o Slurm não aceita; é um limite da máquina, não do placatermo"
  fi
  for log in "$work"/munge/munged.log "$work"/munge/out.log "$work"/slurmctld.log "$work"/slurmctld.out \
             "$work"/slurmd.log "$work"/slurmd.out "$work"/estudo/slurm/*.out; do
    [ -s "$log" ] || continue
    echo "---- $log (últimas linhas)"
    tail -n 40 "$log"
  done
  echo "---- os registros ficam em $work"
  echo "0 passed, 1 failed"
  exit 1
}

# wait_for SECONDS "what is awaited" COMMAND...: polls the command every half
# second; fails naming the step when the time is up, or at once when one of
# the daemons has died.
wait_for() {
  local seconds="$1" what="$2"
  shift 2
  local tries=$((seconds * 2))
  echo "-- aguardando: $what (até $seconds s)"
  while ! "$@" >/dev/null 2>&1; do
    for pid in "${pids[@]}"; do
      kill -0 "$pid" 2>/dev/null || fail "$what: um dos daemons terminou ($(ps -o args= -p "$pid" 2>/dev/null || echo "pid $pid"))"
    done
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || fail "$what: não aconteceu em $seconds s"
    sleep 0.5
  done
}

# munge: a key, the daemon in the foreground as its own user
mkdir -p "$work/munge" /run/munge
chown munge: "$work/munge" /run/munge
[ -f /etc/munge/munge.key ] || mungekey --create --keyfile=/etc/munge/munge.key
chown munge: /etc/munge/munge.key
chmod 400 /etc/munge/munge.key
runuser -u munge -- munged --foreground --force --log-file="$work/munge/munged.log" --pid-file="$work/munge/munged.pid" \
  --seed-file="$work/munge/seed" >"$work/munge/out.log" 2>&1 &
pids+=($!)
munge_works() { munge -n </dev/null | unmunge; }
wait_for 20 "o munged responde (munge -n | unmunge)" munge_works

# slurm: one node with this machine's cores at 127.0.0.1, no cgroups for
# tracking or tasks
mkdir -p "$work/state" "$work/spool" /etc/slurm
memory=$(( $(awk '/MemTotal/ {print $2}' /proc/meminfo) / 1024 - 1024 ))
cat >"$work/slurm.conf" <<CONF
ClusterName=placatermo
SlurmctldHost=$host(127.0.0.1)
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SchedulerType=sched/backfill
SelectType=select/cons_tres
SelectTypeParameters=CR_Core_Memory
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
MpiDefault=none
ReturnToService=2
NodeName=$host NodeAddr=127.0.0.1 NodeHostname=$host CPUs=$(nproc) RealMemory=$memory State=UNKNOWN
PartitionName=estudo Nodes=ALL Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF="$work/slurm.conf"
slurmctld -D -i -f "$SLURM_CONF" >"$work/slurmctld.out" 2>&1 &
pids+=($!)
controller_up() { scontrol ping | grep -q UP; }
wait_for 30 "o slurmctld responde (scontrol ping)" controller_up
slurmd -D -f "$SLURM_CONF" >"$work/slurmd.out" 2>&1 &
pids+=($!)
node_idle() { sinfo -h -o %T | grep -qE '^(idle|mixed)'; }
wait_for 60 "o nó $host fica livre no slurmctld (sinfo)" node_idle
sinfo

# the study, directly and through Slurm
mkdir -p "$work/estudo"
cd "$work/estudo"
"$exe" estudo direto --variar 7=6,10,18 --variar 15=1,2 --tarefas 2 2>/dev/null || fail "o estudo direto"
"$exe" estudo slurm --variar 7=6,10,18 --variar 15=1,2 --preparar || fail "o estudo preparado para o Slurm"
job=$(sbatch --parsable slurm/slurm.sh) || fail "sbatch slurm/slurm.sh"
echo "job $job submetido"
job_done() { [ -z "$(squeue -h -j "$job" 2>/dev/null)" ]; }
wait_for 180 "o job $job termina (squeue)" job_done
"$exe" estudo slurm --coletar --variar 7=6,10,18 --variar 15=1,2 || fail "a coleta do estudo do Slurm"
without_times() { cut -d, -f1-15,17- "$1"; }
diff <(without_times direto/estudo.csv) <(without_times slurm/estudo.csv) || fail "as tabelas diferem"
passed=1
echo "1 passed, 0 failed"
