#!/usr/bin/env bash
# Runs a command on a one-node Slurm cluster of its own on this machine (slurm-wlm, munge; as
# root): a munge daemon with its own key and socket, slurmctld and slurmd on free ports, state,
# logs and pid files in a scratch directory; exports SLURM_CONF, runs the command, and stops
# all three daemons (by their pids) and removes the directory whatever happens. When Slurm
# cannot run here (not root, not installed, a daemon that does not start) it says what failed
# and exits 1: the tests that need Slurm fail, they never skip.
# Usage: with-slurm.sh COMMAND [ARG...]
set -uo pipefail
work="$(mktemp -d)"
chmod 755 "$work"  # munge checks the directories above its socket
export SLURM_WORK="$work"

cannot_run() { echo "FAIL Slurm cannot run on this machine: $1"; exit 1; }

stop_daemons() {
  local pidfile pid
  for pidfile in "$work/slurmd.pid" "$work/slurmctld.pid" "$work/munge/munged.pid"; do
    [[ -f $pidfile ]] || continue
    pid=$(cat "$pidfile")
    kill "$pid" 2>/dev/null || continue
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  done
  [[ -n ${SLURM_KEEP_LOGS:-} ]] && cp "$work"/*.log "$SLURM_KEEP_LOGS"/ 2>/dev/null
  rm -rf "$work"
}
trap stop_daemons EXIT

(( EUID == 0 )) || cannot_run "slurmd and the munge daemon need root (running as uid $EUID)"
for program in munged munge slurmctld slurmd sbatch scontrol squeue sinfo; do
  command -v "$program" >/dev/null || cannot_run "$program is not installed (slurm-wlm, munge: scripts/extra-packages.txt)"
done
id munge >/dev/null 2>&1 || cannot_run "there is no munge user (the munge package creates it)"

free_port() { node -e 'const s=require("net").createServer().listen(0,"127.0.0.1",()=>{console.log(s.address().port);s.close()})'; }

# munge: a key and a socket of this test's own, the daemon as the munge user.
mkdir -p "$work/munge" "$work/state" "$work/spool"
head -c 1024 /dev/urandom >"$work/munge/munge.key"
chown -R munge:munge "$work/munge" && chmod 711 "$work/munge" && chmod 400 "$work/munge/munge.key"
su -s /bin/sh munge -c "/usr/sbin/munged --socket=$work/munge/socket --key-file=$work/munge/munge.key \
  --pid-file=$work/munge/munged.pid --log-file=$work/munge/log --seed-file=$work/munge/seed" \
  || cannot_run "munged did not start: $(tail -1 "$work/munge/log" 2>/dev/null)"

host=$(hostname -s)
cat >"$work/slurm.conf" <<EOF
ClusterName=shards$$
SlurmctldHost=$host
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
AuthInfo=socket=$work/munge/socket
CredType=cred/munge
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/ctld.log
SlurmdLogFile=$work/d.log
SlurmctldPort=$(free_port)
SlurmdPort=$(free_port)
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
MpiDefault=none
ReturnToService=2
NodeName=$host CPUs=2 RealMemory=2000 State=UNKNOWN
PartitionName=debug Nodes=$host Default=YES MaxTime=INFINITE State=UP OverSubscribe=FORCE:4
EOF
export SLURM_CONF="$work/slurm.conf"
slurmctld -f "$SLURM_CONF" || cannot_run "slurmctld did not start: $(tail -2 "$work/ctld.log" 2>/dev/null)"
slurmd -f "$SLURM_CONF" || cannot_run "slurmd did not start: $(tail -2 "$work/d.log" 2>/dev/null)"
for _ in $(seq 1 100); do
  [[ $(sinfo -h -o %t 2>/dev/null) == idle ]] && break
  sleep 0.2
done
[[ $(sinfo -h -o %t 2>/dev/null) == idle ]] || cannot_run "the node did not come up: $(sinfo 2>&1 | tail -1); $(tail -2 "$work/ctld.log")"

"$@"
