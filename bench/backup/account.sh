#!/usr/bin/env bash
# A whole account in one command against its containers one command after another, side by side
# in one run on the scripted test server: DATABASES databases (the first with shared throughput)
# holding CONTAINERS containers of ITEMS items in all, LATENCY_MS per request. Measures
#   - one `backup --all-databases` against one `backup --database D --container C` per container,
#     run one after another;
#   - one `restore` of that account backup (every database renamed) against one `restore` per
#     container of the single backups;
# and prints both ratios (the one-after-another time over the account command's).
# Usage: bench/backup/account.sh BUILD_DIR [DATABASES=4] [CONTAINERS=20] [ITEMS=5000] [LATENCY_MS=5] [PARALLEL=8]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
e2e="$here/../../tests/e2e"
build="$(cd "${1:?usage: account.sh BUILD_DIR [DATABASES] [CONTAINERS] [ITEMS] [LATENCY_MS] [PARALLEL]}" && pwd)"
export BENCH_BUILD="$build" BENCH_DBS="${2:-4}" BENCH_CONTAINERS="${3:-20}" BENCH_ITEMS="${4:-5000}" BENCH_LATENCY="${5:-5}"
export BENCH_PARALLEL="${6:-8}" BENCH_E2E="$e2e" BENCH_WORK="$(mktemp -d)" CLOUDSDK_LOG_LEVEL=0
trap 'rm -rf "$BENCH_WORK"' EXIT

"$e2e/scripted/with-scripted-server.sh" --ranges 2 -- bash -c '
  set -euo pipefail
  cd "$BENCH_WORK"
  tool=("$BENCH_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify)
  ctl() { node -e "require(process.argv[1]).control(process.env.COSMOS_ENDPOINT, process.argv[2], process.argv[3] && JSON.parse(process.argv[3])).then((r) => console.log(JSON.stringify(r)))" "$BENCH_E2E/scripted/client.js" "$@"; }
  now() { date +%s.%N; }
  node -e "const { makeClient } = require(process.argv[1]);
    makeClient(process.env.COSMOS_ENDPOINT, process.env.COSMOS_KEY).databases.create({ id: \"db0\", throughput: 4000 })
      .catch((e) => { console.error(e.message); process.exit(1); })" "$BENCH_E2E/cosmos-client.js"
  containers=()
  for ((i = 0; i < BENCH_CONTAINERS; i++)); do
    db="db$((i % BENCH_DBS))" coll="c$i"
    ctl seed "{\"db\":\"$db\",\"coll\":\"$coll\",\"count\":$BENCH_ITEMS}" >/dev/null
    containers+=("$db/$coll")
  done
  ctl config "{\"latencyMs\":$BENCH_LATENCY}" >/dev/null

  start=$(now)
  "${tool[@]}" backup --all-databases --out account --parallel "$BENCH_PARALLEL" >account-backup.out 2>/dev/null
  account_backup=$(echo "$(now) - $start" | bc)
  start=$(now)
  for dc in "${containers[@]}"; do
    "${tool[@]}" backup --database "${dc%/*}" --container "${dc#*/}" --out "single/${dc/\//_}" --parallel "$BENCH_PARALLEL" >/dev/null 2>&1
  done
  single_backup=$(echo "$(now) - $start" | bc)

  map=()
  for ((d = 0; d < BENCH_DBS; d++)); do map+=(--database-map "db$d=a$d"); done
  start=$(now)
  "${tool[@]}" restore --from account "${map[@]}" --parallel 32 >account-restore.out 2>/dev/null
  account_restore=$(echo "$(now) - $start" | bc)
  start=$(now)
  for dc in "${containers[@]}"; do
    "${tool[@]}" restore --from "single/${dc/\//_}" --database "s${dc%/*}" --container "${dc#*/}" >/dev/null 2>&1
  done
  single_restore=$(echo "$(now) - $start" | bc)

  echo "account: $BENCH_DBS databases (db0 with shared throughput), $BENCH_CONTAINERS containers of $BENCH_ITEMS items, $BENCH_LATENCY ms per request"
  head -1 account-backup.out | sed "s/^/tool: /"
  head -1 account-restore.out | sed "s/^/tool: /"
  printf "%-10s %18s %26s %8s\n" "" "account command s" "one per container, s" ratio
  printf "%-10s %18.2f %26.2f %7.2fx\n" backup "$account_backup" "$single_backup" "$(echo "$single_backup / $account_backup" | bc -l)"
  printf "%-10s %18.2f %26.2f %7.2fx\n" restore "$account_restore" "$single_restore" "$(echo "$single_restore / $account_restore" | bc -l)"
'
