#!/usr/bin/env bash
# Many ranges, latency and an RU budget, on the scripted test server, in one run:
#   1. a container of RANGES ranges with LATENCY_MS per request: `cosmos-backup backup
#      --parallel 8` (whole command, and its own transfer figure) against two raw REST readers
#      written for the benchmark, one range at a time and all ranges at once (the practical
#      limit);
#   2. `restore --max-ru BUDGET` of 12,000 items without latency: the RU the server charged in every whole
#      second after the first two of the writes, against the budget.
# Usage: bench/backup/ranges.sh BUILD_DIR [ITEMS=60000] [RANGES=8] [LATENCY_MS=15] [PAGE_SIZE=100] [BUDGET=3000]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
e2e="$here/../../tests/e2e"
build="$(cd "${1:?usage: ranges.sh BUILD_DIR [ITEMS] [RANGES] [LATENCY_MS] [PAGE_SIZE] [BUDGET]}" && pwd)"
export BENCH_BUILD="$build" BENCH_ITEMS="${2:-60000}" BENCH_RANGES="${3:-8}" BENCH_LATENCY="${4:-15}" BENCH_PAGE="${5:-100}"
export BENCH_BUDGET="${6:-3000}" BENCH_HERE="$here" BENCH_E2E="$e2e" BENCH_WORK="$(mktemp -d)" CLOUDSDK_LOG_LEVEL=0
trap 'rm -rf "$BENCH_WORK"' EXIT

"$e2e/scripted/with-scripted-server.sh" --ranges "$BENCH_RANGES" -- bash -c '
  set -euo pipefail
  tool=("$BENCH_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify)
  ctl() { node -e "require(process.argv[1]).control(process.env.COSMOS_ENDPOINT, process.argv[2], process.argv[3] && JSON.parse(process.argv[3])).then((r) => console.log(JSON.stringify(r)))" "$BENCH_E2E/scripted/client.js" "$@"; }
  rate() { node -e "let s=\"\";process.stdin.on(\"data\",d=>s+=d).on(\"end\",()=>console.log(Math.round(JSON.parse(s).itemsPerSecond)))"; }
  now() { date +%s.%N; }
  ctl seed "{\"db\":\"bench\",\"coll\":\"many\",\"count\":$BENCH_ITEMS}" >/dev/null
  ctl config "{\"latencyMs\":$BENCH_LATENCY}" >/dev/null

  seq=$(node "$BENCH_HERE/raw-reader.js" sequential bench many "$BENCH_PAGE" | rate)
  all=$(node "$BENCH_HERE/raw-reader.js" parallel bench many "$BENCH_PAGE" | rate)
  start=$(now)
  summary=$("${tool[@]}" backup --database bench --container many --out "$BENCH_WORK/many" --page-size "$BENCH_PAGE" --parallel 8 2>/dev/null)
  whole=$(awk -v n="$BENCH_ITEMS" -v a="$start" -v b="$(now)" "BEGIN { printf \"%d\", n / (b - a) }")
  transfer=$(sed -n "s/.*(\([0-9]*\) items\/s).*/\1/p" <<<"$summary")
  echo "items: $BENCH_ITEMS in $BENCH_RANGES ranges, $BENCH_LATENCY ms per request, page size $BENCH_PAGE (items/s)"
  printf "%-52s %10s\n" "raw REST reader, one range at a time" "$seq" "raw REST reader, all ranges at once (the limit)" "$all" \
    "cosmos-backup backup --parallel 8, whole command" "$whole" "cosmos-backup backup --parallel 8, item transfer" "$transfer"
  awk -v w="$whole" -v t="$transfer" -v a="$all" -v s="$seq" "BEGIN {
    printf \"ratio to the all-ranges limit: whole command %.2f, item transfer %.2f; whole command to one range at a time %.2f\n\", w/a, t/a, w/s }"

  # The budget case on 12,000 items: long enough to judge, short enough to wait for.
  ctl config "{\"latencyMs\":0}" >/dev/null
  ctl seed "{\"db\":\"bench\",\"coll\":\"budget-source\",\"count\":12000}" >/dev/null
  "${tool[@]}" backup --database bench --container budget-source --out "$BENCH_WORK/budget" >/dev/null 2>&1
  ctl stats/reset >/dev/null
  "${tool[@]}" restore --from "$BENCH_WORK/budget" --database bench --container budget --max-ru "$BENCH_BUDGET" 2>/dev/null
  ctl stats | node -e "
    let s = \"\"; process.stdin.on(\"data\", (d) => (s += d)).on(\"end\", () => {
      const budget = Number(process.argv[1]);
      const seconds = JSON.parse(s).perSecond.sort((a, b) => a.second - b.second);
      // From the first second with writes: the two after it are the ramp, the last one is partial.
      const first = seconds.findIndex((x) => x.itemsWritten > 0);
      const judged = seconds.slice(first + 2, -1);
      const ru = judged.map((x) => Math.round(x.ru));
      const worst = Math.max(...ru.map((r) => Math.abs(r - budget) / budget));
      console.log(\"restore --max-ru \" + budget + \": RU charged per second \" + seconds.map((x) => Math.round(x.ru)).join(\" \"));
      console.log(\"seconds judged: \" + ru.length + \", largest deviation from the budget: \" + (100 * worst).toFixed(1) + \"% (\" + (worst <= 0.1 ? \"within\" : \"outside\") + \" 10%), throttled: \" + JSON.parse(s).throttled);
    });" "$BENCH_BUDGET"
'
