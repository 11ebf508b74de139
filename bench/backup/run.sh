#!/usr/bin/env bash
# Backup and restore throughput of cosmos-backup beside the official Node SDK doing the same
# work on the same local server in the same run:
#   backup  - the tool's backup vs the SDK reading every item (same page size), and the tool's
#             backup to blob storage (a local azurite) vs the same backup to a local directory
#   restore - the tool's restore vs the SDK creating the same items with bounded concurrency
#             (one by one, and in batches of 100), the same number of requests in flight
# Each figure is the median of REPEATS runs. Prints a table and the tool/SDK ratios.
# Usage: bench/backup/run.sh BUILD_DIR [ITEMS=10000] [REPEATS=3] [PAGE_SIZE=1000] [IN_FLIGHT=16]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
e2e="$here/../../tests/e2e"
build="$(cd "${1:?usage: run.sh BUILD_DIR [ITEMS] [REPEATS] [PAGE_SIZE] [IN_FLIGHT]}" && pwd)"
export BENCH_BUILD="$build" BENCH_ITEMS="${2:-10000}" BENCH_REPEATS="${3:-3}" BENCH_PAGE="${4:-1000}" BENCH_INFLIGHT="${5:-16}"
export BENCH_HERE="$here" BENCH_E2E="$e2e" BENCH_WORK="$(mktemp -d)" CLOUDSDK_LOG_LEVEL=0
trap 'rm -rf "$BENCH_WORK"' EXIT

"$e2e/with-server.sh" "$e2e/with-azurite.sh" bash -c '
  set -euo pipefail
  tool=("$BENCH_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify)
  node "$BENCH_E2E/seed.js" "$COSMOS_ENDPOINT" bench source "$BENCH_ITEMS" >/dev/null
  node "$BENCH_E2E/blob.js" create-container bench
  rate() { sed -n "s/.*(\([0-9]*\) items\/s).*/\1/p"; }
  sdk_rate() { node -e "let s=\"\";process.stdin.on(\"data\",d=>s+=d).on(\"end\",()=>console.log(Math.round(JSON.parse(s).itemsPerSecond)))"; }
  median() { sort -n | awk "{a[NR]=\$1} END {print a[int((NR+1)/2)]}"; }
  : >"$BENCH_WORK/tb"; : >"$BENCH_WORK/bb"; : >"$BENCH_WORK/sr"; : >"$BENCH_WORK/tr"; : >"$BENCH_WORK/sc"; : >"$BENCH_WORK/sb"
  for run in $(seq 1 "$BENCH_REPEATS"); do
    "${tool[@]}" backup --database bench --container source --out "$BENCH_WORK/b$run" --page-size "$BENCH_PAGE" 2>/dev/null | rate >>"$BENCH_WORK/tb"
    "${tool[@]}" backup --database bench --container source --out "$STORAGE_ENDPOINT/$STORAGE_ACCOUNT/bench/b$run" --page-size "$BENCH_PAGE" 2>/dev/null | rate >>"$BENCH_WORK/bb"
    node "$BENCH_HERE/sdk-peer.js" read bench source "$BENCH_PAGE" | sdk_rate >>"$BENCH_WORK/sr"
    "${tool[@]}" restore --from "$BENCH_WORK/b$run" --database bench --container "tool$run" --parallel "$BENCH_INFLIGHT" 2>/dev/null | rate >>"$BENCH_WORK/tr"
    node "$BENCH_HERE/sdk-peer.js" create bench "sdk$run" "$BENCH_ITEMS" "$BENCH_INFLIGHT" | sdk_rate >>"$BENCH_WORK/sc"
    node "$BENCH_HERE/sdk-peer.js" batch bench "sdkb$run" "$BENCH_ITEMS" "$BENCH_INFLIGHT" | sdk_rate >>"$BENCH_WORK/sb"
  done
  tb=$(median <"$BENCH_WORK/tb"); bb=$(median <"$BENCH_WORK/bb"); sr=$(median <"$BENCH_WORK/sr"); tr=$(median <"$BENCH_WORK/tr")
  sc=$(median <"$BENCH_WORK/sc"); sb=$(median <"$BENCH_WORK/sb")
  echo "items: $BENCH_ITEMS, page size: $BENCH_PAGE, writes in flight: $BENCH_INFLIGHT, median of $BENCH_REPEATS runs (items/s)"
  printf "%-48s %10s\n" "backup: cosmos-backup" "$tb" "backup: cosmos-backup to blob storage" "$bb" "backup: SDK readAll" "$sr" \
    "restore: cosmos-backup (upserts, batched per key)" "$tr" "restore: SDK create, one by one" "$sc" "restore: SDK batch of 100" "$sb"
  awk -v tb="$tb" -v bb="$bb" -v sr="$sr" -v tr="$tr" -v sc="$sc" -v sb="$sb" "BEGIN {
    printf \"ratio backup tool/SDK: %.2f; restore tool/SDK one by one: %.2f; restore tool/SDK batches: %.2f\n\", tb/sr, tr/sc, tr/sb
    printf \"ratio backup to blob storage/to a directory: %.2f\n\", bb/tb }"
'
