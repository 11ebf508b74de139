#!/usr/bin/env bash
# cosmos-backup on what large containers of the live service show (the scripted server):
#   - 200 ranges on a multi-region account (vector session tokens) behind the service's 16 KiB
#     limit on request headers: backup, restore (its count) and verify pass, each item request
#     carrying one range's token;
#   - a 400 "Request Too Long" on the restore's writes stops the restore (no item is listed as
#     refused for it).
# Prints one line per case and "N passed, N failed".
# Usage: large-containers.sh BUILD_DIR
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "${1:?usage: large-containers.sh BUILD_DIR}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export CLOUDSDK_LOG="$work/bridge.log" LARGE_BUILD="$build" LARGE_WORK="$work" LARGE_HERE="$here"

common='
  set -uo pipefail
  cd "$LARGE_WORK"
  tool=("$LARGE_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify)
  passed=0 failed=0
  pass() { echo "PASS $1"; passed=$((passed + 1)); }
  fail() { echo "FAIL $1"; failed=$((failed + 1)); }
  cli() { node "$LARGE_HERE/scripted/cli.js" "$@"; }
  field() { node -e "let s=\"\";process.stdin.on(\"data\",d=>s+=d).on(\"end\",()=>console.log(JSON.parse(s)[process.argv[1]]))" "$1"; }
  # same NAME DB COLL: container DB/COLL equals the source d/src.
  same() {
    local out
    out=$(cli compare --db d --coll src --db2 "$2" --coll2 "$3" 2>&1) && pass "$1 ($out)" || fail "$1: $out"
  }
  verify_exact() {
    local out
    out=$("${tool[@]}" verify --from "$2" --database "$3" --container "$4" 2>"$LARGE_WORK/verify.err")
    if [[ $out == "verify: $5 items in the backup, $5 in the container, $5 equal, 0 problems" ]]; then pass "$1"
    else fail "$1: $out $(head -3 "$LARGE_WORK/verify.err")"; fi
  }
'

# 200 ranges, six regions: every range's token together is past the 16 KiB header limit.
"$here/scripted/with-scripted-server.sh" --ranges 200 --session-regions 6 -- bash -c "$common"'
  cli seed --db d --coll src --count 2000 >/dev/null || { echo "seeding failed"; exit 1; }
  cli stats/reset >/dev/null
  if "${tool[@]}" backup --database d --container src --out full --parallel 4 >full.out 2>full.err; then
    grep -q "2000 items" full.out && pass "backup of 200 ranges under the header limit" || fail "backup of 200 ranges: $(tail -1 full.out)"
    # Reads lag behind writes unless they send the writes'"'"' session tokens.
    cli config --laggingReads true --lagMs 600000 >/dev/null
    if "${tool[@]}" restore --from full --database r --container src --parallel 4 >restore.out 2>restore.err; then
      grep -q "2000 counted" restore.out && pass "restore of 200 ranges counts every item it wrote" || fail "restore count: $(tail -1 restore.out)"
      same "restored container equals the source" r src
      verify_exact "verify of 200 ranges sees the restore'"'"'s writes" full r src 2000
    else
      fail "restore of 200 ranges: $(tail -2 restore.err)"
    fi
  else
    fail "backup of 200 ranges: $(tail -2 full.err)"
  fi
  largest=$(cli stats | field largestItemRequestHeader)
  (( largest > 0 && largest < 4096 )) && pass "largest item request header: $largest bytes" || fail "largest item request header: $largest bytes"
  errors=$(cli stats | field errors)
  (( errors == 0 )) && pass "no request refused" || fail "$errors requests refused"

  # The service refusing the writes as too long: the restore stops, no item is called refused.
  cli fail --status 400 --times 1000 --pathContains /docs --message "Bad Request - Request Too Long. HTTP Error 400. The size of the request headers is too long." >/dev/null
  "${tool[@]}" restore --from full --database r2 --container src >long.out 2>long.err
  status=$?
  if (( status != 0 && status != 3 )) && grep -qi "too long" long.err && ! grep -q "refused" long.out; then pass "a request too long stops the restore (status $status)"
  else fail "a request too long: status $status, $(tail -n 2 long.err)"; fi
  echo "$passed passed, $failed failed"
  (( failed == 0 ))
'
