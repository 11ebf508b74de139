#!/usr/bin/env bash
# What an increment costs when the account has the change feed's "all versions and deletes"
# mode, beside the key-set increment and a full backup, on the scripted test server, in one
# run: ITEMS items in RANGES ranges are backed up whole; then 1% of them are updated and 0.5%
# deleted; then two increments are taken since the full backup: one that reads the deletions
# from that feed, and (the mode switched off on the account) one that reads the container's
# keys to find them. For each: the whole command's time, the request units and requests the
# server charged, and the items it served.
# PREVIOUS_IMAGES=1 makes the feed's changes carry the replaced or deleted version as well.
# Usage: bench/backup/feed-increment.sh BUILD_DIR [ITEMS=200000] [RANGES=8] [LATENCY_MS=0]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
e2e="$here/../../tests/e2e"
build="$(cd "${1:?usage: feed-increment.sh BUILD_DIR [ITEMS] [RANGES] [LATENCY_MS]}" && pwd)"
export BENCH_BUILD="$build" BENCH_ITEMS="${2:-200000}" BENCH_RANGES="${3:-8}" BENCH_LATENCY="${4:-0}"
export PREVIOUS_IMAGES="${PREVIOUS_IMAGES:-0}" BENCH_HELPERS="$here/../scripted-bench.sh" BENCH_E2E="$e2e" BENCH_WORK="$(mktemp -d)" CLOUDSDK_LOG_LEVEL=0
trap 'rm -rf "$BENCH_WORK"' EXIT

previous=()
[[ ${PREVIOUS_IMAGES:-0} == 1 ]] && previous=(--previous-images)
"$e2e/scripted/with-scripted-server.sh" --ranges "$BENCH_RANGES" --all-versions-and-deletes "${previous[@]}" -- bash -c '
  set -euo pipefail
  tool=("$BENCH_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify)
  source "$BENCH_HELPERS"
  ctl seed "{\"db\":\"bench\",\"coll\":\"busy\",\"count\":$BENCH_ITEMS}" >/dev/null
  ctl config "{\"latencyMs\":$BENCH_LATENCY}" >/dev/null
  full=$(measure full requests,itemsRead "${tool[@]}" backup --database bench --container busy --out "$BENCH_WORK/full" --parallel 8)
  ctl mutate "{\"db\":\"bench\",\"coll\":\"busy\",\"updates\":$((BENCH_ITEMS / 100)),\"deletes\":$((BENCH_ITEMS / 200))}" >/dev/null
  feed=$(measure increment-feed requests,itemsRead "${tool[@]}" backup --database bench --container busy --out "$BENCH_WORK/inc-feed" --since "$BENCH_WORK/full" --parallel 8)
  ctl config "{\"allVersionsAndDeletes\":false}" >/dev/null
  keys=$(measure increment-keys requests,itemsRead "${tool[@]}" backup --database bench --container busy --out "$BENCH_WORK/inc-keys" --since "$BENCH_WORK/full" --parallel 8)

  echo "items: $BENCH_ITEMS in $BENCH_RANGES ranges, $BENCH_LATENCY ms per request; 1% updated, 0.5% deleted before the increments; previous images: ${PREVIOUS_IMAGES:-0}"
  printf "%-40s %9s %10s %9s %13s\n" "" seconds RU requests "items served"
  for line in "$full" "$feed" "$keys"; do
    read -r name seconds ru requests items <<<"$line"
    printf "%-40s %9s %10s %9s %13s\n" "cosmos-backup ($name)" "$seconds" "$ru" "$requests" "$items"
  done
  for name in increment-feed increment-keys; do grep "^increment" "$BENCH_WORK/$name.out" | sed "s/^/$name: /"; done
  grep -h "cosmos-backup:" "$BENCH_WORK/increment-keys.err" | sed "s/^/increment-keys says: /" || true
  read -r _ fs fru _ _ <<<"$full"
  read -r _ es eru _ _ <<<"$feed"
  read -r _ ks kru _ _ <<<"$keys"
  awk -v fs="$fs" -v fru="$fru" -v es="$es" -v eru="$eru" -v ks="$ks" -v kru="$kru" "BEGIN {
    printf \"feed increment / full: RU %.4f, time %.3f; key-set increment / full: RU %.4f, time %.3f; feed / key-set increment: RU %.3f, time %.3f\n\",
      eru / fru, es / fs, kru / fru, ks / fs, eru / kru, es / ks }"
'
