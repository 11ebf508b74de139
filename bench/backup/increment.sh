#!/usr/bin/env bash
# What an increment costs beside a full backup, on the scripted test server, in one run: a
# container of ITEMS items in RANGES ranges with LATENCY_MS per request is backed up whole, then
# CHANGED_PCT percent of it changes (three fifths updated, one fifth deleted, one fifth new
# items), then `backup --since` takes the increment. For each: the whole command's time, the
# request units and requests the server charged, and the items it served (the increment's are
# the changed items plus the keys of the key-only read), and the start-up floor (list-databases).
# Usage: bench/backup/increment.sh BUILD_DIR [ITEMS=20000] [RANGES=8] [LATENCY_MS=5] [CHANGED_PCT=10]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
e2e="$here/../../tests/e2e"
build="$(cd "${1:?usage: increment.sh BUILD_DIR [ITEMS] [RANGES] [LATENCY_MS] [CHANGED_PCT]}" && pwd)"
export BENCH_BUILD="$build" BENCH_ITEMS="${2:-20000}" BENCH_RANGES="${3:-8}" BENCH_LATENCY="${4:-5}" BENCH_PCT="${5:-10}"
export BENCH_HELPERS="$here/../scripted-bench.sh" BENCH_E2E="$e2e" BENCH_WORK="$(mktemp -d)" CLOUDSDK_LOG_LEVEL=0
trap 'rm -rf "$BENCH_WORK"' EXIT

"$e2e/scripted/with-scripted-server.sh" --ranges "$BENCH_RANGES" -- bash -c '
  set -euo pipefail
  tool=("$BENCH_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify)
  source "$BENCH_HELPERS"
  ctl seed "{\"db\":\"bench\",\"coll\":\"busy\",\"count\":$BENCH_ITEMS}" >/dev/null
  ctl config "{\"latencyMs\":$BENCH_LATENCY}" >/dev/null
  full=$(measure full requests,itemsRead "${tool[@]}" backup --database bench --container busy --out "$BENCH_WORK/full" --parallel 8)
  changed=$((BENCH_ITEMS * BENCH_PCT / 100))
  ctl mutate "{\"db\":\"bench\",\"coll\":\"busy\",\"updates\":$((changed * 3 / 5)),\"deletes\":$((changed / 5)),\"inserts\":$((changed / 5))}" >/dev/null
  inc=$(measure increment requests,itemsRead "${tool[@]}" backup --database bench --container busy --out "$BENCH_WORK/inc" --since "$BENCH_WORK/full" --parallel 8)
  # The floor under any command: process, runtime and connection start-up, one listing.
  floor=$(measure floor requests,itemsRead "${tool[@]}" list-databases)

  echo "items: $BENCH_ITEMS in $BENCH_RANGES ranges, $BENCH_LATENCY ms per request; $changed changed ($BENCH_PCT%) before the increment"
  printf "%-34s %9s %10s %9s %13s\n" "" seconds RU requests "items served"
  for line in "$full" "$inc" "$floor"; do
    read -r name seconds ru requests items <<<"$line"
    printf "%-34s %9s %10s %9s %13s\n" "cosmos-backup ($name)" "$seconds" "$ru" "$requests" "$items"
  done
  grep "^increment" "$BENCH_WORK/increment.out" | sed "s/^/tool: /"
  read -r _ fs fru _ fitems <<<"$full"
  read -r _ is iru _ iitems <<<"$inc"
  read -r _ ls _ _ _ <<<"$floor"
  awk -v fs="$fs" -v fru="$fru" -v is="$is" -v iru="$iru" -v fi="$fitems" -v ii="$iitems" -v ls="$ls" "BEGIN {
    printf \"increment / full: time %.2f (above the start-up floor %.2f), request units %.3f, items served %.3f\n\",
      is / fs, (is - ls) / (fs - ls), iru / fru, ii / fi }"
'
