#!/usr/bin/env bash
# More readers than ranges, every byte once, the fixed cost and politeness, side by side in one
# run on the scripted test server (LATENCY_MS per request) and azurite:
#   1. a one-range container of ITEMS items: `backup --parallel 8` (sub-ranges) against the raw
#      REST reader one range at a time (the SDK's way) and against the raw reader with 8
#      sub-ranges at once (the practical limit);
#   2. the same items in 8 ranges: the tool's read span against the raw all-ranges reader;
#   3. the whole command minus the read span (start-up, metadata, manifest, key file), beside
#      the process and runtime start-up with one request (`list-databases`) on this machine now;
#   4. restore of RESTORE_ITEMS items from blob storage against the same from a directory, and
#      the bytes downloaded (GET bodies, counted by a proxy in front of azurite) per byte of
#      backup: of the data files, and of everything (manifest, lists, progress records);
#   5. a restore into a container of 400 RU/s without --max-ru (the share of throttled
#      requests) against `--max-ru 400` (items/s).
# Usage: bench/backup/readers.sh BUILD_DIR [ITEMS=50000] [LATENCY_MS=15] [PAGE_SIZE=100] [RESTORE_ITEMS=20000] [RU_ITEMS=1500]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
e2e="$here/../../tests/e2e"
build="$(cd "${1:?usage: readers.sh BUILD_DIR [ITEMS] [LATENCY_MS] [PAGE_SIZE] [RESTORE_ITEMS] [RU_ITEMS]}" && pwd)"
export BENCH_BUILD="$build" BENCH_ITEMS="${2:-50000}" BENCH_LATENCY="${3:-15}" BENCH_PAGE="${4:-100}"
export BENCH_RESTORE_ITEMS="${5:-20000}" BENCH_RU_ITEMS="${6:-1500}"
export BENCH_HERE="$here" BENCH_E2E="$e2e" BENCH_WORK="$(mktemp -d)" CLOUDSDK_LOG_LEVEL=0
trap 'rm -rf "$BENCH_WORK"' EXIT

"$e2e/with-azurite.sh" "$e2e/scripted/with-scripted-server.sh" --ranges 1 -- bash -c '
  set -euo pipefail
  tool=("$BENCH_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify)
  ctl() { node -e "require(process.argv[1]).control(process.env.COSMOS_ENDPOINT, process.argv[2], process.argv[3] && JSON.parse(process.argv[3])).then((r) => console.log(JSON.stringify(r)))" "$BENCH_E2E/scripted/client.js" "$@"; }
  field() { node -e "let s=\"\";process.stdin.on(\"data\",d=>s+=d).on(\"end\",()=>console.log(JSON.parse(s)[process.argv[1]]))" "$1"; }
  rate() { field itemsPerSecond | cut -d. -f1; }
  now() { date +%s.%N; }
  transfer() { sed -n "s/.*(\([0-9]*\) items\/s).*/\1/p" <<<"$1" | head -1; }
  # backup NAME CONTAINER: prints "whole transfer fixed" (items/s, items/s, seconds outside the read span)
  backup() {
    local start end summary
    start=$(now)
    summary=$("${tool[@]}" backup --database bench --container "$2" --out "$BENCH_WORK/$1" --page-size "$BENCH_PAGE" --parallel 8 2>"$BENCH_WORK/$1.err")
    end=$(now)
    awk -v n="$BENCH_ITEMS" -v a="$start" -v b="$end" -v t="$(transfer "$summary")" \
      "BEGIN { printf \"%d %d %.2f\", n / (b - a), t, (b - a) - n / t }"
  }

  ctl config "{\"ranges\":1}" >/dev/null
  ctl seed "{\"db\":\"bench\",\"coll\":\"one\",\"count\":$BENCH_ITEMS}" >/dev/null
  ctl config "{\"ranges\":8}" >/dev/null
  ctl seed "{\"db\":\"bench\",\"coll\":\"eight\",\"count\":$BENCH_ITEMS}" >/dev/null
  ctl config "{\"latencyMs\":$BENCH_LATENCY}" >/dev/null

  seq=$(node "$BENCH_HERE/raw-reader.js" sequential bench one "$BENCH_PAGE" | rate)
  sub=$(node "$BENCH_HERE/raw-reader.js" subranges bench one "$BENCH_PAGE" 8 | rate)
  read -r one_whole one_transfer one_fixed <<<"$(backup one one)"
  grep -q "whole ranges" "$BENCH_WORK/one.err" && echo "NOTE: the tool fell back to whole ranges"
  all=$(node "$BENCH_HERE/raw-reader.js" parallel bench eight "$BENCH_PAGE" | rate)
  read -r eight_whole eight_transfer eight_fixed <<<"$(backup eight eight)"
  start=$(now); "${tool[@]}" list-databases >/dev/null; startup=$(awk -v a="$start" -v b="$(now)" "BEGIN { printf \"%.2f\", b - a }")
  echo "items: $BENCH_ITEMS, $BENCH_LATENCY ms per request, page size $BENCH_PAGE (items/s)"
  printf "%-60s %10s\n" "1 range: raw reader, one range at a time (the SDK way)" "$seq" \
    "1 range: raw reader, 8 sub-ranges at once (the limit)" "$sub" \
    "1 range: cosmos-backup backup --parallel 8, item transfer" "$one_transfer" \
    "1 range: cosmos-backup backup --parallel 8, whole command" "$one_whole" \
    "8 ranges: raw reader, all ranges at once (the limit)" "$all" \
    "8 ranges: cosmos-backup backup --parallel 8, item transfer" "$eight_transfer" \
    "8 ranges: cosmos-backup backup --parallel 8, whole command" "$eight_whole"
  awk -v s="$seq" -v u="$sub" -v o="$one_transfer" -v ow="$one_whole" -v a="$all" -v e="$eight_transfer" \
      -v f1="$one_fixed" -v f8="$eight_fixed" -v s0="$startup" "BEGIN {
    printf \"1 range, tool (item transfer) / one range at a time: %.2fx (target 4x); whole command: %.2fx\n\", o/s, ow/s
    printf \"1 range, tool (item transfer) / 8 sub-ranges raw: %.2fx (target 0.85x)\n\", o/u
    printf \"8 ranges, tool read span / all-ranges raw: %.2fx (target 0.85x)\n\", e/a
    printf \"whole command minus read span: %.2f s (1 range), %.2f s (8 ranges) (target at most 0.4 s); start-up with one request (list-databases): %.2f s\n\", f1, f8, s0 }"

  # Restore from blob storage against a directory, through a proxy that counts downloaded bytes.
  ctl config "{\"latencyMs\":0}" >/dev/null
  ctl seed "{\"db\":\"bench\",\"coll\":\"restore-source\",\"count\":$BENCH_RESTORE_ITEMS}" >/dev/null
  node "$BENCH_E2E/blob.js" create-container backups
  coproc PROXY { exec node "$BENCH_HERE/count-proxy.js" "${STORAGE_ENDPOINT##*:}" "$BENCH_WORK/downloaded"; }
  read -r _ proxy_port <&"${PROXY[0]}"
  blob="http://127.0.0.1:$proxy_port/$STORAGE_ACCOUNT/backups/restore"
  "${tool[@]}" backup --database bench --container restore-source --out "$BENCH_WORK/restore" --items-per-file 2000 >/dev/null 2>&1
  "${tool[@]}" backup --database bench --container restore-source --out "$blob" --items-per-file 2000 >/dev/null 2>&1
  backup_bytes=$(node -e "const m=require(process.argv[1]);console.log(m.files.reduce((n,f)=>n+f.bytes,0))" "$BENCH_WORK/restore/manifest.json")
  from_dir=$(transfer "$("${tool[@]}" restore --from "$BENCH_WORK/restore" --database bench --container from-dir 2>/dev/null)")
  sleep 0.2; before=$(cat "$BENCH_WORK/downloaded")
  from_blob=$(transfer "$("${tool[@]}" restore --from "$blob" --database bench --container from-blob 2>/dev/null)")
  sleep 0.2; after=$(cat "$BENCH_WORK/downloaded")
  kill "$PROXY_PID" 2>/dev/null || true
  read -r data_bytes all_bytes <<<"$(node -e "const [a,b]=process.argv.slice(1).map(JSON.parse);console.log((b.dataFiles-a.dataFiles)+\" \"+(b.all-a.all))" "$before" "$after")"
  printf "%-60s %10s\n" "restore $BENCH_RESTORE_ITEMS items from a directory, item transfer" "$from_dir" \
    "restore $BENCH_RESTORE_ITEMS items from blob storage, item transfer" "$from_blob"
  awk -v d="$from_dir" -v b="$from_blob" -v n="$data_bytes" -v a="$all_bytes" -v s="$backup_bytes" "BEGIN {
    printf \"restore blob / directory: %.2fx (target 0.9x); bytes downloaded per byte of backup: data files %.3f (%d of %d; target 1.0), everything %.3f\n\", b/d, n/s, n, s, a/s }"

  # A container of 400 RU/s: without a budget the tool must adapt on its own.
  ctl seed "{\"db\":\"bench\",\"coll\":\"ru-source\",\"count\":$BENCH_RU_ITEMS}" >/dev/null
  "${tool[@]}" backup --database bench --container ru-source --out "$BENCH_WORK/ru" >/dev/null 2>&1
  ctl config "{\"ruPerSecond\":400}" >/dev/null
  # ru_restore NAME ARGS...: prints "items/s requests throttled"
  ru_restore() {
    local name=$1 summary; shift
    ctl stats/reset >/dev/null
    summary=$("${tool[@]}" restore --from "$BENCH_WORK/ru" --database bench --container "$name" "$@" 2>/dev/null)
    echo "$(transfer "$summary") $(ctl stats | node -e "let s=\"\";process.stdin.on(\"data\",d=>s+=d).on(\"end\",()=>{const t=JSON.parse(s);console.log(t.requests+\" \"+t.throttled)})")"
  }
  read -r budget_rate budget_requests budget_throttled <<<"$(ru_restore with-budget --max-ru 400)"
  read -r free_rate free_requests free_throttled <<<"$(ru_restore without-budget)"
  printf "%-60s %10s  (%s requests, %s throttled)\n" "restore into 400 RU/s, --max-ru 400" "$budget_rate" "$budget_requests" "$budget_throttled" \
    "restore into 400 RU/s, no --max-ru" "$free_rate" "$free_requests" "$free_throttled"
  awk -v b="$budget_rate" -v f="$free_rate" -v r="$free_requests" -v t="$free_throttled" "BEGIN {
    printf \"no --max-ru: throttled %.1f%% of requests (target at most 10%%); items/s against --max-ru 400: %.2fx (target 0.9x)\n\", 100*t/r, f/b }"
'
