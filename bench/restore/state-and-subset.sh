#!/usr/bin/env bash
# What a chain's state restore and a subset restore cost, on the scripted test server, in one run
# (so that the machine's load falls on both sides of each ratio alike):
#  1. a chain of LINKS backups of ITEMS items (each increment after 0.7% of the items were
#     updated, 0.3% inserted and 0.3% deleted), then a full backup of the same final state;
#     both restored into new containers, alternately REPEATS times (medians): items written (the server's count) against items in
#     the final state, request units and seconds of the chain's restore against the full one's;
#  2. a full backup of SUBSET_ITEMS items in 8 ranges; the items of one partition key value
#     restored into a new container against the whole backup restored: data file bytes read and
#     seconds.
# Usage: bench/restore/state-and-subset.sh BUILD_DIR [LINKS=30] [ITEMS=100000] [SUBSET_ITEMS=200000] [REPEATS=3]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
e2e="$here/../../tests/e2e"
build="$(cd "${1:?usage: state-and-subset.sh BUILD_DIR [LINKS] [ITEMS] [SUBSET_ITEMS]}" && pwd)"
export BENCH_BUILD="$build" BENCH_LINKS="${2:-30}" BENCH_ITEMS="${3:-100000}" BENCH_SUBSET_ITEMS="${4:-200000}" BENCH_REPEATS="${5:-3}"
export BENCH_HELPERS="$here/../scripted-bench.sh" BENCH_E2E="$e2e" BENCH_WORK="$(mktemp -d)" CLOUDSDK_LOG_LEVEL=0
trap 'rm -rf "$BENCH_WORK"' EXIT

"$e2e/scripted/with-scripted-server.sh" --ranges 8 -- bash -c '
  set -euo pipefail
  cd "$BENCH_WORK"
  tool=("$BENCH_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify)
  source "$BENCH_HELPERS"
  manifest() { node -e "console.log(JSON.parse(require(\"fs\").readFileSync(process.argv[1] + \"/manifest.json\"))[process.argv[2]])" "$@"; }

  # 1. The chain.
  ctl seed "{\"db\":\"bench\",\"coll\":\"chain\",\"count\":$BENCH_ITEMS}" >/dev/null
  "${tool[@]}" --quiet backup --database bench --container chain --out link-1 --parallel 8 >/dev/null
  for ((i = 2; i <= BENCH_LINKS; i++)); do
    ctl mutate "{\"db\":\"bench\",\"coll\":\"chain\",\"updates\":$((BENCH_ITEMS * 7 / 1000)),\"deletes\":$((BENCH_ITEMS * 3 / 1000)),\"inserts\":$((BENCH_ITEMS * 3 / 1000)),\"round\":$i}" >/dev/null
    "${tool[@]}" --quiet backup --database bench --container chain --out link-$i --since link-$((i - 1)) --parallel 8 >/dev/null 2>&1
  done
  "${tool[@]}" --quiet backup --database bench --container chain --out final-full --parallel 8 >/dev/null
  state=$(manifest final-full itemCount)
  # Alternately, REPEATS times each; the medians are compared (the machine is shared).
  for ((r = 1; r <= BENCH_REPEATS; r++)); do
    measure chain-restore itemsWritten "${tool[@]}" --quiet restore --from link-$BENCH_LINKS --database r-chain-$r --container chain >>chain-runs.txt
    measure full-restore itemsWritten "${tool[@]}" --quiet restore --from final-full --database r-full-$r --container chain >>full-runs.txt
  done
  median() { sort -n -k2 "$1" | sed -n "$(((BENCH_REPEATS + 1) / 2))p"; }
  chain=$(median chain-runs.txt)
  full=$(median full-runs.txt)
  ctl reset >/dev/null  # the next part on an empty server

  # 2. One partition key value of a backup in 8 ranges.
  ctl seed "{\"db\":\"bench\",\"coll\":\"tenants\",\"count\":$BENCH_SUBSET_ITEMS}" >/dev/null
  "${tool[@]}" --quiet backup --database bench --container tenants --out tenants --parallel 8 >/dev/null
  subset=$(measure subset-restore itemsWritten "${tool[@]}" --quiet restore --from tenants --partition-key "\"pk-0001\"" --database r-subset --container tenants)
  whole=$(measure whole-restore itemsWritten "${tool[@]}" --quiet restore --from tenants --database r-whole --container tenants)
  bytes_all=$(node -e "console.log(JSON.parse(require(\"fs\").readFileSync(\"tenants/manifest.json\")).files.reduce((s, f) => s + f.bytes, 0))")
  bytes_subset=$(sed -n "s/^subset: .* data files read (\([0-9]*\) bytes).*/\1/p" subset-restore.out)
  files_subset=$(sed -n "s/^subset: \([0-9]*\) data files read.*/\1/p" subset-restore.out)
  files_all=$(node -e "console.log(JSON.parse(require(\"fs\").readFileSync(\"tenants/manifest.json\")).files.length)")

  echo "chain: median of $BENCH_REPEATS alternate runs each; $BENCH_LINKS links of $BENCH_ITEMS items (per link 0.7% updated, 0.3% inserted, 0.3% deleted); $state items in the final state"
  printf "%-30s %9s %12s %14s\n" "" seconds RU "items written"
  for line in "$chain" "$full"; do read -r name s ru w <<<"$line"; printf "%-30s %9s %12s %14s\n" "$name" "$s" "$ru" "$w"; done
  read -r _ cs cru cw <<<"$chain"; read -r _ fs fru fw <<<"$full"
  awk -v cs="$cs" -v cru="$cru" -v cw="$cw" -v fs="$fs" -v fru="$fru" -v st="$state" "BEGIN {
    printf \"chain restore: items written / items in the state %.4f; RU %.3fx and seconds %.3fx the full backup restore of the same state\n\", cw / st, cru / fru, cs / fs }"
  echo "subset: one partition key value of $BENCH_SUBSET_ITEMS items in 8 ranges"
  for line in "$subset" "$whole"; do read -r name s ru w <<<"$line"; printf "%-30s %9s %12s %14s\n" "$name" "$s" "$ru" "$w"; done
  read -r _ ss _ _ <<<"$subset"; read -r _ ws _ _ <<<"$whole"
  awk -v bs="$bytes_subset" -v ba="$bytes_all" -v fs="$files_subset" -v fa="$files_all" -v ss="$ss" -v ws="$ws" "BEGIN {
    printf \"subset restore: %d of %d data files, %d of %d bytes (%.3f); seconds %.3fx the whole restore\n\", fs, fa, bs, ba, bs / ba, ss / ws }"
'
