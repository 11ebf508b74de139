#!/usr/bin/env bash
# The largest request header of an item request (request line and headers, bytes) during a
# backup, a restore and a verify of a container of RANGES ranges on a multi-region account
# (REGIONS regions: vector session tokens), on the scripted test server with its header limit
# raised so that nothing is refused. Run it with two builds (before and after a change) to
# compare what the session tokens cost per request.
# Usage: bench/backup/session-headers.sh BUILD_DIR [RANGES=200] [REGIONS=6] [ITEMS=2000]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
e2e="$here/../../tests/e2e"
build="$(cd "${1:?usage: session-headers.sh BUILD_DIR [RANGES] [REGIONS] [ITEMS]}" && pwd)"
export BENCH_BUILD="$build" BENCH_ITEMS="${4:-2000}" BENCH_E2E="$e2e" BENCH_WORK="$(mktemp -d)" CLOUDSDK_LOG_LEVEL=0
trap 'rm -rf "$BENCH_WORK"' EXIT

"$e2e/scripted/with-scripted-server.sh" --ranges "${2:-200}" --session-regions "${3:-6}" --max-header-bytes 1048576 -- bash -c '
  set -euo pipefail
  cd "$BENCH_WORK"
  tool=("$BENCH_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify)
  cli() { node "$BENCH_E2E/scripted/cli.js" "$@"; }
  largest() { cli stats | node -e "let s=\"\";process.stdin.on(\"data\",d=>s+=d).on(\"end\",()=>console.log(JSON.parse(s).largestItemRequestHeader))"; }
  cli seed --db d --coll src --count "$BENCH_ITEMS" >/dev/null
  for step in "backup --database d --container src --out full --parallel 4" "restore --from full --database r --container src --parallel 4" \
              "verify --from full --database r --container src"; do
    cli stats/reset >/dev/null
    "${tool[@]}" $step >/dev/null 2>step.err || { echo "${step%% *} failed: $(tail -1 step.err)"; exit 1; }
    printf "%-8s largest item request header: %6s bytes\n" "${step%% *}" "$(largest)"
  done
'
