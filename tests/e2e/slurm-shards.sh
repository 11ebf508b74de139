#!/usr/bin/env bash
# A backup and a restore run by a real batch scheduler: Slurm (slurm-wlm, munge) on this one
# machine, started by with-slurm.sh (a munge daemon of its own, slurmctld and slurmd on free
# ports, everything in a scratch directory, all three stopped at the end).
#   - the backup of an 8-range container on the scripted server goes as a job array of four
#     shards (sbatch --wait --array=0-3, --shard auto) to a blob prefix on azurite; the first
#     run of task 2 is killed by the server part-way and re-queued (scontrol requeue), and its
#     second run, the same command, goes on from its checkpoints;
#   - backup --finish writes the manifest; a shard of another run is refused at its start, a
#     run with a missing shard at finish, and so is one whose shards overlap (a service that
#     read past the key bounds);
#   - the restore goes as a second array of three shards, then restore --finish: the restored
#     container equals the source exactly, and verify agrees; a restore with a shard missing is
#     refused at its finish.
# Slurm is part of the test: when it cannot run here (not root, not installed, a daemon that
# does not start), the script fails and says what failed; it never skips.
# Prints one line per case and "N passed, N failed".
# Usage: slurm-shards.sh BUILD_DIR
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "${1:?usage: slurm-shards.sh BUILD_DIR}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export CLOUDSDK_LOG="$work/bridge.log" SH_BUILD="$build" SH_WORK="$work" SH_HERE="$here"
"$here/with-slurm.sh" "$here/scripted/with-scripted-server.sh" --ranges 8 -- "$here/with-azurite.sh" bash -c '
  set -uo pipefail
  cd "$SH_WORK"
  tool=("$SH_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify)
  export SH_BASE="$STORAGE_ENDPOINT/$STORAGE_ACCOUNT/backups"
  passed=0 failed=0
  pass() { echo "PASS $1"; passed=$((passed + 1)); }
  fail() { echo "FAIL $1"; failed=$((failed + 1)); }
  cli() { node "$SH_HERE/scripted/cli.js" "$@"; }
  items=4000
  cli seed --db shop --coll orders --count $items >/dev/null && node "$SH_HERE/blob.js" create-container backups \
    || { echo "FAIL seeding"; exit 1; }

  # Each shard has a quarter of a budget of 1200 RU/s, which makes it read for a few seconds.
  # The first run of task 2 is killed once it has sealed a data file, and re-queued; every run
  # is the same command.
  cat >backup-job.sh <<"JOB"
#!/bin/bash
backup=("$SH_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify backup --database shop --container orders
        --out "$SH_BASE/run" --shard auto --parallel 2 --page-size 50 --items-per-file 100 --max-ru 300)
if [[ $SLURM_ARRAY_TASK_ID == 2 ]] && mkdir "$SH_WORK/killed-once" 2>/dev/null; then
  "${backup[@]}" &
  node "$SH_HERE/blob.js" wait-for backups run items-s0002-
  kill -KILL $!
  wait $!
  echo "first run of shard $SLURM_ARRAY_TASK_ID ended with status $?"
  mkdir "$SH_WORK/after-kill" && node "$SH_HERE/blob.js" download backups run "$SH_WORK/after-kill"
  echo "sealed before the kill: $(ls "$SH_WORK/after-kill" | grep -c "^items-s0002-") files"
  scontrol requeue "${SLURM_ARRAY_JOB_ID}_${SLURM_ARRAY_TASK_ID}"
  sleep 120  # the requeue ends this run
fi
exec "${backup[@]}"
JOB
  cat >restore-job.sh <<"JOB"
#!/bin/bash
exec "$SH_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify restore --from "$SH_BASE/run" --database shop-restored \
  --container orders --shard auto --parallel 4 --max-ru 100000
JOB
  chmod +x backup-job.sh restore-job.sh

  # Lets a re-queued task run at once (Slurm holds one back for two minutes by default), but
  # not within 2 s of its kill: slurmd refuses to launch a job again in the second its earlier
  # run was revoked ("already killed, do not launch batch job").
  declare -A pending_since
  release_requeued() {
    local task reason
    while read -r task reason; do
      [[ $reason == BeginTime ]] || continue
      pending_since[$task]=${pending_since[$task]:-$SECONDS}
      (( SECONDS - pending_since[$task] >= 2 )) && scontrol update JobId="$task" StartTime=now 2>/dev/null
    done < <(squeue -h -t PD -o "%i %r")
  }
  # array NAME SCRIPT TASKS: submits a job array and waits for it (sbatch --wait), and then
  # until none of its tasks is queued (--wait may return while a re-queued task waits to run
  # again). True when every task completed with exit status 0.
  array() {
    sbatch --parsable --wait --requeue --array="$3" -o "$SH_WORK/$1-%a.out" --open-mode=append "$2" >"$SH_WORK/$1.job" &
    local waiting=$! job=""
    while :; do
      release_requeued
      job=$(cut -d";" -f1 "$SH_WORK/$1.job")
      if ! kill -0 $waiting 2>/dev/null && [[ -n $job && -z $(squeue -h -j "$job" 2>/dev/null) ]]; then break; fi
      sleep 0.5
    done
    wait $waiting
    local states
    states=$(scontrol show job "$job" | grep -o "JobState=[A-Z]*\|ExitCode=[0-9:]*")
    echo "$1 array $job: $(sort <<<"$states" | uniq -c | tr -s " \n" " ")" >>"$SH_WORK/arrays.txt"
    ! grep -qv "JobState=COMPLETED\|ExitCode=0:0" <<<"$states"
  }

  cli stats/reset >/dev/null
  if array backup ./backup-job.sh 0-3; then pass "backup as a Slurm array of 4 shards"; else fail "backup array: $(cat arrays.txt backup-*.out)"; fi
  grep -q "first run of shard 2 ended with status 137" backup-2.out && grep -q "DUE TO JOB REQUEUE" backup-2.out \
    && pass "task 2 killed part-way and re-queued" || fail "task 2 was not killed and re-queued: $(cat backup-2.out)"
  read_items=$(cli stats | node -e "let s=\"\";process.stdin.on(\"data\",d=>s+=d).on(\"end\",()=>console.log(JSON.parse(s).itemsRead))")
  sealed=$(sed -n "s/^sealed before the kill: \([0-9]*\) files$/\1/p" backup-2.out)
  (( ${sealed:-0} > 0 && read_items >= items && read_items <= items + 600 )) \
    && pass "the re-run kept the $sealed files sealed before the kill, reading a few pages again ($read_items items read for $items)" \
    || fail "sealed before the kill: ${sealed:-none}; items read by the shards: $read_items for $items; task 2: $(grep -v "items/s, " backup-2.out)"

  "${tool[@]}" backup --finish --out "$SH_BASE/run" >finish.out 2>finish.err \
    && grep -q "backup of shop/orders: $items items" finish.out && pass "finish writes the manifest of $items items" \
    || fail "finish: $(cat finish.out finish.err)"

  # A shard of another run (another count) is refused at its start; a run with a shard missing
  # is refused at finish.
  "${tool[@]}" backup --database shop --container orders --out "$SH_BASE/mixed" --shard 0/2 >/dev/null 2>&1
  if "${tool[@]}" backup --database shop --container orders --out "$SH_BASE/mixed" --shard 1/3 >/dev/null 2>mixed.err; then
    fail "a shard of another run joined"
  elif grep -q "holds shard 0 of a run of 2 shards, not 3" mixed.err; then pass "a shard of another run refused at its start"
  else fail "foreign shard: $(cat mixed.err)"; fi
  if "${tool[@]}" backup --finish --out "$SH_BASE/mixed" >/dev/null 2>mixed.err; then fail "a run with a missing shard was finished"
  elif grep -q "shards of 2 missing: 1 (never ran)" mixed.err; then pass "a missing shard refused at finish, named"
  else fail "missing shard: $(cat mixed.err)"; fi

  # A service that reads past the key bounds puts items in two shards: finish refuses the run.
  cli config --ignoreKeyBounds true >/dev/null
  for shard in 0 1 2; do
    "${tool[@]}" backup --database shop --container orders --out "$SH_BASE/loose" --shard $shard/3 --parallel 1 >/dev/null 2>&1
  done
  cli config --ignoreKeyBounds false >/dev/null
  if "${tool[@]}" backup --finish --out "$SH_BASE/loose" >/dev/null 2>loose.err; then fail "shards that overlap were finished"
  elif grep -q "items are in more than one shard" loose.err; then pass "items in two shards refused at finish"
  else fail "overlapping shards: $(cat loose.err)"; fi

  if array restore ./restore-job.sh 0-2; then pass "restore as a Slurm array of 3 shards"; else fail "restore array: $(cat arrays.txt restore-*.out)"; fi
  "${tool[@]}" restore --from "$SH_BASE/run" --database partial --container orders --shard 0/2 >/dev/null 2>&1
  if "${tool[@]}" restore --from "$SH_BASE/run" --database partial --container orders --finish >/dev/null 2>partial.err; then
    fail "a restore with a shard missing was finished"
  elif grep -q "shards of 2 not done: 1 (never ran)" partial.err; then pass "restore finish names a missing shard"
  else fail "restore with a missing shard: $(cat partial.err)"; fi
  "${tool[@]}" restore --from "$SH_BASE/run" --database shop-restored --container orders --finish >rfinish.out 2>rfinish.err \
    && grep -q "$items counted" rfinish.out && pass "restore finish counts $items items" || fail "restore finish: $(cat rfinish.out rfinish.err)"
  cli compare --db shop --coll orders --db2 shop-restored >compare.out 2>&1 && pass "restored container equals the source" \
    || fail "restored container differs: $(cat compare.out)"
  "${tool[@]}" verify --from "$SH_BASE/run" --database shop-restored --container orders 2>/dev/null | grep -q ", 0 problems" \
    && pass "verify agrees" || fail "verify"

  echo "$passed passed, $failed failed"
  (( failed == 0 ))
'
