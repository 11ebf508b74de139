#!/usr/bin/env bash
# cosmos-backup on what large containers of the live service show (the scripted server):
#   - 200 ranges on a multi-region account (vector session tokens) behind the service's 16 KiB
#     limit on request headers: backup, restore (its count) and verify pass, each item request
#     carrying one range's token;
#   - a 400 "Request Too Long" on the restore's writes stops the restore (no item is listed as
#     refused for it);
#   - increments on an account with the change feed's "all versions and deletes" mode find the
#     deletions in that feed; one whose position passed the feed's retention falls back to the
#     key set and says so; on an account without the mode the same; an increment with more
#     readers than ranges reads its changes in sub-ranges; each chain restored equals the source.
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
    out=$("${tool[@]}" verify --from "$2" --database "$3" --container "$4" 2>"$LARGE_WORK/verify.err" | head -1)
    if [[ $out == "verify: $5 items in the backup, $5 in the container, $5 equal, 0 problems" ]]; then pass "$1"
    else fail "$1: $out $(head -3 "$LARGE_WORK/verify.err")"; fi
  }
'

# 200 ranges, six regions: every range's token together is past the 16 KiB header limit.
"$here/scripted/with-scripted-server.sh" --ranges 200 --session-regions 6 --all-versions-and-deletes -- bash -c "$common"'
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
headers_status=$?

# Increments from the "all versions and deletes" feed, and their fallbacks.
"$here/scripted/with-scripted-server.sh" --ranges 4 --all-versions-and-deletes -- bash -c "$common"'
  mkdir feed && cd feed
  chain_of() { node -e "const m=require(process.argv[1]);console.log(m.chain && m.chain.allVersionsFeed ? \"feed\" : \"none\")" "$PWD/$1/manifest.json"; }
  # increment NAME SINCE ROUND EXPECTED FALLBACK [OPTION...]: mutates (round ROUND), takes NAME
  # since SINCE, checks its summary and whether it said it fell back to the key set (yes/no).
  increment() {
    local name=$1 since=$2 round=$3 expected=$4 fallback=$5
    shift 5
    [[ -n $round ]] && cli mutate --db d --coll src --updates 30 --deletes 15 --inserts 20 --round "$round" >/dev/null
    set -- "$name" "$since" "$round" "$expected" "$fallback" "$@"
    if "${tool[@]}" backup --database d --container src --out "$1" --since "$2" "${@:6}" >"$1.out" 2>"$1.err"; then
      local fell=no
      grep -q "reading the container.s keys" "$1.err" && fell=yes
      if grep -q "$4" "$1.out" && [[ $fell == "$5" ]]; then pass "$1: $4, key set read: $fell"
      else fail "$1: $(tail -1 "$1.out"), key set read: $fell ($(head -2 "$1.err"))"; fi
    else
      fail "$1: $(tail -2 "$1.err")"
    fi
  }
  restored() {
    if "${tool[@]}" restore --from "$1" --database "$2" --container src >"$2.out" 2>"$2.err"; then same "$3" "$2" src
    else fail "$3: $(tail -2 "$2.err")"; fi
  }

  cli seed --db d --coll src --count 1500 >/dev/null || { echo "seeding failed"; exit 1; }
  "${tool[@]}" backup --database d --container src --out full >full.out 2>full.err || fail "full backup: $(tail -1 full.err)"
  [[ $(chain_of full) == feed ]] && pass "a full backup records the all versions and deletes positions" || fail "the full backup recorded no feed position"
  increment inc1 full 1 "50 changed items, 15 deleted, 1505 items in all" no
  restored inc1 r1 "chain with deletions from the feed restored equals the source"
  # The feed forgets the changes since inc1: its position is past the retention window, the next
  # increment falls back, and records new positions.
  cli mutate --db d --coll src --updates 30 --deletes 15 --inserts 20 --round 2 >/dev/null
  cli expireHistory --db d --coll src >/dev/null
  increment inc2 inc1 "" "50 changed items, 15 deleted, 1510 items in all" yes
  grep -q "retention" inc2.err && pass "the fallback says why: $(grep -o "retention[a-z ]*" inc2.err | head -1)" || fail "fallback reason: $(head -1 inc2.err)"
  # Eight readers on four ranges: the changes are read in sub-ranges.
  increment inc3 inc2 3 "50 changed items, 15 deleted, 1515 items in all" no --parallel 8
  parts=$(node -e "console.log(require(process.argv[1]).chain.changeFeed.ranges.length)" "$PWD/inc3/manifest.json")
  (( parts == 8 )) && pass "an increment with eight readers on four ranges read eight sub-ranges" || fail "sub-ranges of the increment: $parts"
  restored inc3 r3 "chain of four (feed, key set, feed) restored equals the source"

  # An account without the mode: positions are not recorded, increments read the key set.
  cli config --allVersionsAndDeletes false >/dev/null
  "${tool[@]}" backup --database d --container src --out plain >plain.out 2>plain.err || fail "full backup: $(tail -1 plain.err)"
  [[ $(chain_of plain) == none ]] && pass "no feed position recorded without the mode" || fail "a feed position was recorded without the mode"
  increment plain1 plain 4 "50 changed items, 15 deleted, 1520 items in all" yes
  grep -q "does not offer" plain1.err && pass "the fallback says the account lacks the mode" || fail "fallback reason: $(head -1 plain1.err)"
  restored plain1 r4 "chain without the mode restored equals the source"
  echo "$passed passed, $failed failed"
  (( failed == 0 ))
'
feed_status=$?
(( headers_status == 0 && feed_status == 0 ))
