#!/usr/bin/env bash
# Backup and restore throughput of cosmos-backup beside the official Node SDK doing the same
# work on the same local server in the same run:
#   backup  - the tool's backup vs the SDK reading every item (same page size); the tool both
#             as its own figure (item transfer) and as the whole command (process start to end);
#             and the same backup to blob storage (a local azurite) vs to a local directory
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
  : >"$BENCH_WORK/tb"; : >"$BENCH_WORK/tw"; : >"$BENCH_WORK/bb"; : >"$BENCH_WORK/bw"; : >"$BENCH_WORK/sr"; : >"$BENCH_WORK/tr"; : >"$BENCH_WORK/sc"; : >"$BENCH_WORK/sb"
  for run in $(seq 1 "$BENCH_REPEATS"); do
    start=$(date +%s.%N)
    "${tool[@]}" backup --database bench --container source --out "$BENCH_WORK/b$run" --page-size "$BENCH_PAGE" 2>/dev/null | rate >>"$BENCH_WORK/tb"
    awk -v n="$BENCH_ITEMS" -v a="$start" -v b="$(date +%s.%N)" "BEGIN { printf \"%d\n\", n / (b - a) }" >>"$BENCH_WORK/tw"
    start=$(date +%s.%N)
    "${tool[@]}" backup --database bench --container source --out "$STORAGE_ENDPOINT/$STORAGE_ACCOUNT/bench/b$run" --page-size "$BENCH_PAGE" 2>/dev/null | rate >>"$BENCH_WORK/bb"
    awk -v n="$BENCH_ITEMS" -v a="$start" -v b="$(date +%s.%N)" "BEGIN { printf \"%d\n\", n / (b - a) }" >>"$BENCH_WORK/bw"
    node "$BENCH_HERE/sdk-peer.js" read bench source "$BENCH_PAGE" | sdk_rate >>"$BENCH_WORK/sr"
    "${tool[@]}" restore --from "$BENCH_WORK/b$run" --database bench --container "tool$run" --parallel "$BENCH_INFLIGHT" 2>/dev/null | rate >>"$BENCH_WORK/tr"
    node "$BENCH_HERE/sdk-peer.js" create bench "sdk$run" "$BENCH_ITEMS" "$BENCH_INFLIGHT" | sdk_rate >>"$BENCH_WORK/sc"
    node "$BENCH_HERE/sdk-peer.js" batch bench "sdkb$run" "$BENCH_ITEMS" "$BENCH_INFLIGHT" | sdk_rate >>"$BENCH_WORK/sb"
  done
  tb=$(median <"$BENCH_WORK/tb"); tw=$(median <"$BENCH_WORK/tw"); bb=$(median <"$BENCH_WORK/bb"); bw=$(median <"$BENCH_WORK/bw"); sr=$(median <"$BENCH_WORK/sr"); tr=$(median <"$BENCH_WORK/tr")
  sc=$(median <"$BENCH_WORK/sc"); sb=$(median <"$BENCH_WORK/sb")
  echo "items: $BENCH_ITEMS, page size: $BENCH_PAGE, writes in flight: $BENCH_INFLIGHT, median of $BENCH_REPEATS runs (items/s)"
  printf "%-48s %10s\n" "backup: cosmos-backup, item transfer" "$tb" "backup: cosmos-backup, whole command" "$tw" \
    "backup to blob storage: item transfer" "$bb" "backup to blob storage: whole command" "$bw" "backup: SDK readAll" "$sr" \
    "restore: cosmos-backup (upserts, batched per key)" "$tr" "restore: SDK create, one by one" "$sc" "restore: SDK batch of 100" "$sb"
  awk -v tb="$tb" -v tw="$tw" -v bb="$bb" -v bw="$bw" -v sr="$sr" -v tr="$tr" -v sc="$sc" -v sb="$sb" "BEGIN {
    printf \"ratio backup tool/SDK: whole command %.2f, item transfer %.2f; restore tool/SDK one by one: %.2f; restore tool/SDK batches: %.2f\n\", tw/sr, tb/sr, tr/sc, tr/sb
    printf \"ratio backup to blob storage/to a directory: whole command %.2f, item transfer %.2f\n\", bw/tw, bb/tb }"
'
