#!/usr/bin/env bash
# Prune of a repository beside a full backup, on the scripted server in one run: ITEMS items, a
# full backup and INCREMENTS increments (1% of the items changed and 0.3% deleted before each) into
# a directory repository, then a new full backup (--full, timed), then
# `forget --keep-last 1 --prune`, which removes the old chain: its requests to the database (must
# be 0), seconds, the repository's bytes before and after; then a restore of the newest backup,
# compared with the container. Prints the figures and prune's time over the full backup's.
# Usage: bench/backup/repository.sh BUILD_DIR [ITEMS=20000] [INCREMENTS=10]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
e2e="$here/../../tests/e2e"
build="$(cd "${1:?usage: repository.sh BUILD_DIR [ITEMS] [INCREMENTS]}" && pwd)"
export RB_BUILD="$build" RB_ITEMS="${2:-20000}" RB_INCREMENTS="${3:-10}" RB_E2E="$e2e" RB_WORK="$(mktemp -d)" CLOUDSDK_LOG_LEVEL=0
trap 'rm -rf "$RB_WORK"' EXIT

"$e2e/scripted/with-scripted-server.sh" -- bash -c '
  set -euo pipefail
  cd "$RB_WORK"
  tool=("$RB_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify --quiet)
  cli() { node "$RB_E2E/scripted/cli.js" "$@"; }
  requests() { cli stats | node -e "let s=\"\";process.stdin.on(\"data\",d=>s+=d).on(\"end\",()=>console.log(JSON.parse(s).requests))"; }
  now() { date +%s.%N; }
  printf "bench password\n" >pw && chmod 600 pw
  export COSMOS_BACKUP_PASSWORD_FILE=$PWD/pw
  cli seed --db bench --coll source --count "$RB_ITEMS" >/dev/null
  "${tool[@]}" backup --repo repo --database bench --container source >/dev/null
  for round in $(seq 1 "$RB_INCREMENTS"); do
    cli mutate --db bench --coll source --updates $((RB_ITEMS / 100)) --deletes $((RB_ITEMS * 3 / 1000)) --inserts $((RB_ITEMS * 3 / 1000)) --round $round >/dev/null
    sleep 1  # one id per second
    "${tool[@]}" backup --repo repo --database bench --container source >/dev/null
  done
  sleep 1
  start=$(now)
  "${tool[@]}" backup --repo repo --database bench --container source --full >/dev/null
  full=$(awk -v a="$start" -v b="$(now)" "BEGIN { printf \"%.2f\", b - a }")
  before_bytes=$(du -sb repo | cut -f1)
  before_requests=$(requests)
  start=$(now)
  "${tool[@]}" forget --repo repo --keep-last 1 --prune >prune.out
  prune=$(awk -v a="$start" -v b="$(now)" "BEGIN { printf \"%.2f\", b - a }")
  after_requests=$(requests)
  after_bytes=$(du -sb repo | cut -f1)
  "${tool[@]}" restore --repo repo --backup latest --database restored >/dev/null
  cli compare --db bench --coll source --db2 restored >/dev/null && exact=yes || exact=NO
  echo "items: $RB_ITEMS, increments: $RB_INCREMENTS, encrypted repository"
  echo "full backup (--full): $full s"
  echo "forget --keep-last 1 --prune: $prune s, $(grep -c "^removed" prune.out) backups removed, requests to the database: $((after_requests - before_requests))"
  echo "repository bytes: $before_bytes before, $after_bytes after"
  echo "restore of the newest backup exact: $exact"
  awk -v p="$prune" -v f="$full" "BEGIN { printf \"prune / full backup time: %.2f\n\", p / f }"
'
