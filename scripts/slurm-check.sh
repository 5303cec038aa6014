#!/usr/bin/env bash
# Proves the Slurm path of studies on this machine: starts a single-node
# Slurm cluster from Debian's packages (slurm-wlm, munge), prepares a small
# study, submits its job array with sbatch, waits, collects, and checks that
# the table equals the one of the same study run directly (times aside).
# Needs root; stops the daemons it started.
#   scripts/slurm-check.sh [build/placatermo]
set -euo pipefail
cd "$(dirname "$0")/.."
exe="$(cd "$(dirname "${1:-build/placatermo}")" && pwd)/$(basename "${1:-build/placatermo}")"
scripts/ensure-packages.sh slurm-wlm munge
work="$(mktemp -d)"
chmod 755 "$work"  # the munge user reaches its folder through it
host="$(hostname -s)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# munge: a key, the daemon in the foreground as its own user
mkdir -p "$work/munge" /run/munge
chown munge: "$work/munge" /run/munge
[ -f /etc/munge/munge.key ] || mungekey --create --keyfile=/etc/munge/munge.key
chown munge: /etc/munge/munge.key
chmod 400 /etc/munge/munge.key
runuser -u munge -- munged --foreground --force --log-file="$work/munge/munged.log" --pid-file="$work/munge/munged.pid" \
  --seed-file="$work/munge/seed" >"$work/munge/out.log" 2>&1 &
pids+=($!)
sleep 1

# slurm: one node with this machine's cores, no cgroups
mkdir -p "$work/state" "$work/spool" /etc/slurm
memory=$(( $(awk '/MemTotal/ {print $2}' /proc/meminfo) / 1024 - 1024 ))
cat >"$work/slurm.conf" <<CONF
ClusterName=placatermo
SlurmctldHost=$host
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
NodeName=$host CPUs=$(nproc) RealMemory=$memory State=UNKNOWN
PartitionName=estudo Nodes=ALL Default=YES MaxTime=INFINITE State=UP
CONF
export SLURM_CONF="$work/slurm.conf"
slurmctld -D -i -f "$SLURM_CONF" >"$work/slurmctld.out" 2>&1 &
pids+=($!)
slurmd -D -f "$SLURM_CONF" >"$work/slurmd.out" 2>&1 &
pids+=($!)
for _ in $(seq 60); do sinfo -h -o %T 2>/dev/null | grep -qE '^(idle|mixed)' && break; sleep 1; done
sinfo

# the study, directly and through Slurm
mkdir -p "$work/estudo"
cd "$work/estudo"
"$exe" estudo direto --variar 7=6,10,18 --variar 15=1,2 --tarefas 2 2>/dev/null
"$exe" estudo slurm --variar 7=6,10,18 --variar 15=1,2 --preparar
job=$(sbatch --parsable slurm/slurm.sh)
echo "job $job submetido"
for _ in $(seq 180); do [ -z "$(squeue -h -j "$job" 2>/dev/null)" ] && break; sleep 1; done
[ -z "$(squeue -h -j "$job" 2>/dev/null)" ] || { echo "FALHOU: o job $job não terminou em 3 minutos"; exit 1; }
"$exe" estudo slurm --coletar --variar 7=6,10,18 --variar 15=1,2
without_times() { cut -d, -f1-14,16- "$1"; }
if diff <(without_times direto/estudo.csv) <(without_times slurm/estudo.csv); then
  echo "1 passed, 0 failed"
else
  echo "FALHOU: as tabelas diferem"
  echo "0 passed, 1 failed"
  exit 1
fi
