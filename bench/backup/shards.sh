#!/usr/bin/env bash
# A backup as a Slurm job array of SHARDS shards against one process, side by side in one run,
# on the scripted test server (RANGES ranges, LATENCY_MS per request, a local directory as the
# shared location): whole wall time of `backup --parallel P` against that of
# `sbatch --wait --array=0-(SHARDS-1)` of `backup --shard auto --parallel P/SHARDS` plus
# `backup --finish`, and the share of the whole that finish takes. Needs root and Slurm
# (tests/e2e/with-slurm.sh starts a cluster of one node on this machine).
# Usage: bench/backup/shards.sh BUILD_DIR [ITEMS=60000] [RANGES=8] [LATENCY_MS=15] [SHARDS=4] [PARALLEL=8] [PAGE_SIZE=100]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
e2e="$here/../../tests/e2e"
build="$(cd "${1:?usage: shards.sh BUILD_DIR [ITEMS] [RANGES] [LATENCY_MS] [SHARDS] [PARALLEL] [PAGE_SIZE]}" && pwd)"
export BENCH_BUILD="$build" BENCH_ITEMS="${2:-60000}" BENCH_RANGES="${3:-8}" BENCH_LATENCY="${4:-15}" BENCH_SHARDS="${5:-4}"
export BENCH_PARALLEL="${6:-8}" BENCH_PAGE="${7:-100}" BENCH_E2E="$e2e" BENCH_WORK="$(mktemp -d)" CLOUDSDK_LOG_LEVEL=0
chmod 755 "$BENCH_WORK"
trap 'rm -rf "$BENCH_WORK"' EXIT

"$e2e/with-slurm.sh" "$e2e/scripted/with-scripted-server.sh" --ranges "$BENCH_RANGES" -- bash -c '
  set -euo pipefail
  cd "$BENCH_WORK"
  tool=("$BENCH_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify)
  cli() { node "$BENCH_E2E/scripted/cli.js" "$@"; }
  now() { date +%s.%N; }
  cli seed --db bench --coll many --count "$BENCH_ITEMS" >/dev/null
  cli config --latencyMs "$BENCH_LATENCY" >/dev/null
  per_shard=$(( BENCH_PARALLEL / BENCH_SHARDS > 0 ? BENCH_PARALLEL / BENCH_SHARDS : 1 ))
  cat >job.sh <<JOB
#!/bin/bash
echo "started \$(date +%s.%N)"
${tool[*]} backup --database bench --container many --out $BENCH_WORK/sharded --shard auto --parallel $per_shard --page-size $BENCH_PAGE
status=\$?
echo "ended \$(date +%s.%N)"
exit \$status
JOB
  chmod +x job.sh

  start=$(now)
  "${tool[@]}" backup --database bench --container many --out one --parallel "$BENCH_PARALLEL" --page-size "$BENCH_PAGE" >/dev/null 2>&1
  single=$(awk -v a="$start" -v b="$(now)" "BEGIN { printf \"%.2f\", b - a }")

  start=$(now)
  sbatch --wait --array=0-$((BENCH_SHARDS - 1)) -o "$BENCH_WORK/out-%a.txt" ./job.sh >/dev/null
  array_done=$(now)
  "${tool[@]}" backup --finish --out sharded >finish.txt 2>&1
  finished=$(now)
  grep -q "$BENCH_ITEMS items" finish.txt || { echo "the sharded backup is not whole:"; cat finish.txt out-*.txt; exit 1; }
  first_start=$(sed -n "s/^started //p" out-*.txt | sort -n | head -1)
  last_end=$(sed -n "s/^ended //p" out-*.txt | sort -n | tail -1)
  transfer=$(sed -n "s/.* bytes in \([0-9.]*\) s .*/\1/p" out-*.txt | sort -n | tail -1)
  awk -v n="$BENCH_ITEMS" -v s="$single" -v a="$start" -v d="$array_done" -v f="$finished" -v k="$BENCH_SHARDS" \
      -v p="$BENCH_PARALLEL" -v q="$per_shard" -v r="$BENCH_RANGES" -v l="$BENCH_LATENCY" -v c="$(nproc)" -v fs="$first_start" -v le="$last_end" -v t="$transfer" "BEGIN {
    sharded = f - a; fin = f - d
    printf \"items: %d in %d ranges, %d ms per request, %d cores\n\", n, r, l, c
    printf \"%-60s %8.2f s %8d items/s\n\", \"one process, backup --parallel \" p, s, n / s
    printf \"%-60s %8.2f s %8d items/s\n\", \"Slurm array of \" k \" shards (--parallel \" q \" each) + finish\", sharded, n / sharded
    printf \"%-60s %8.2f s\n\", \"  submit to the first task started (scheduling)\", fs - a
    printf \"%-60s %8.2f s\n\", \"  first task started to last task ended (the shards)\", le - fs
    printf \"%-60s %8.2f s\n\", \"    longest shard item transfer (its own figure)\", t
    printf \"%-60s %8.2f s\n\", \"  last task ended to sbatch --wait returned\", d - le
    printf \"%-60s %8.2f s\n\", \"  backup --finish\", fin
    printf \"%-60s %8.2f s\n\", \"Slurm array + finish, less the polling of sbatch --wait\", sharded - (d - le)
    printf \"speed of the sharded run to the one process: %.2fx; finish: %.1f%% of the sharded run\n\", s / sharded, 100 * fin / sharded
    printf \"less the polling: %.2fx; finish: %.1f%% of it\n\", s / (sharded - (d - le)), 100 * fin / (sharded - (d - le)) }"
'
