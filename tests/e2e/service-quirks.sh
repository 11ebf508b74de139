#!/usr/bin/env bash
# cosmos-backup on the scripted server made strict in the live service's ways (four ranges,
# partition merge enabled: every request must declare merge support; range lists paged two
# ranges a page; every seventh session read answers 404/1002):
#   - a backup while a split completes between two pages of a range list, then a merge:
#     every item once, and the restore equals the source;
#   - a backup while a split is still completing (410/1007 for two seconds): every item once;
#   - a legacy container (systemKey /_partitionKey; items with and without a value) backed up
#     and restored equal;
#   - a container deleted and re-created under its name during a backup: the backup stops,
#     saying so.
# Prints one line per case and "N passed, N failed".
# Usage: service-quirks.sh BUILD_DIR
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "${1:?usage: service-quirks.sh BUILD_DIR}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export CLOUDSDK_LOG="$work/bridge.log" Q_BUILD="$build" Q_WORK="$work" Q_HERE="$here"

"$here/scripted/with-scripted-server.sh" --ranges 4 --merge-enabled --ranges-page-size 2 --session-miss-every 7 -- bash -c '
  set -uo pipefail
  cd "$Q_WORK"
  tool=("$Q_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify)
  passed=0 failed=0
  pass() { echo "PASS $1"; passed=$((passed + 1)); }
  fail() { echo "FAIL $1"; failed=$((failed + 1)); }
  cli() { node "$Q_HERE/scripted/cli.js" "$@"; }
  # exact NAME DIR DB C N: the backup in DIR holds each of N items once and equals DB/C.
  exact() {
    local out
    out=$("${tool[@]}" verify --from "$2" --database "$3" --container "$4" 2>verify.err | head -1)
    if [[ $out == "verify: $5 items in the backup, $5 in the container, $5 equal, 0 problems" ]]; then pass "$1"
    else fail "$1: $out $(head -3 verify.err)"; fi
  }
  # restored NAME DIR DB C: DIR restored into database r-DB equals DB/C.
  restored() {
    local out
    if ! "${tool[@]}" restore --from "$2" --database "r-$3" --container "$4" >restore.out 2>restore.err; then fail "$1: $(tail -2 restore.err)"; return; fi
    out=$(cli compare --db "$3" --coll "$4" --db2 "r-$3" 2>&1) && pass "$1 ($out)" || fail "$1: $out"
  }

  cli seed --db q --coll src --count 2000 >/dev/null || { echo "seeding failed"; exit 1; }

  # A split that completes between the two pages of the backup'"'"'s first range list, and a
  # merge while the ranges are read.
  cli split --db q --coll src --range 1 --betweenRangePages true >/dev/null
  cli merge --db q --coll src --range 2 --afterRequests 30 >/dev/null
  if "${tool[@]}" backup --database q --container src --out paged --page-size 50 --parallel 2 >paged.out 2>paged.err; then
    exact "a range list paged across a split, then a merge: every item once" paged q src 2000
    restored "restored under merge-enabled strictness equals the source" paged q src
  else fail "backup across a paged range list: $(tail -2 paged.err)"; fi

  # Range 0 answers 410/1007 for two seconds before its split becomes visible.
  cli split --db q --coll src --range 0 --completingMs 2000 --substatus 1007 >/dev/null
  if "${tool[@]}" backup --database q --container src --out completing --page-size 100 >completing.out 2>completing.err; then
    exact "a split still completing (410/1007) is waited out: every item once" completing q src 2000
  else fail "backup while a split completes: $(tail -2 completing.err)"; fi

  cli seed --db q --coll legacy --count 300 --partitionKey "{\"paths\":[\"/_partitionKey\"],\"kind\":\"Hash\",\"systemKey\":true}" >/dev/null
  if "${tool[@]}" backup --database q --container legacy --out legacy >legacy.out 2>legacy.err; then
    restored "a system-key container (items with and without _partitionKey) restored equal" legacy q legacy
  else fail "backup of a system-key container: $(tail -2 legacy.err)"; fi

  cli seed --db q --coll again --count 1000 >/dev/null
  cli recreate --db q --coll again --afterRequests 30 --seed 1000 >/dev/null
  if "${tool[@]}" backup --database q --container again --out again --page-size 50 --parallel 1 >again.out 2>again.err; then
    fail "a backup across a re-created container succeeded"
  elif grep -q "was deleted and re-created during the backup" again.err; then pass "a container re-created during the backup stops it loudly"
  else fail "re-created container: $(tail -2 again.err)"; fi

  # Items updated before an increment starts and again once its positions are recorded: the
  # change feed keeps only their newest versions, past the start; the chain must hold them.
  cli seed --db q --coll inc --count 1000 >/dev/null
  "${tool[@]}" backup --database q --container inc --out inc-full >inc-full.out 2>inc-full.err || fail "full backup: $(tail -1 inc-full.err)"
  cli mutate --db q --coll inc --updates 60 --round 1 >/dev/null
  cli mutate --db q --coll inc --updates 60 --round 2 --afterPositions true >/dev/null
  if "${tool[@]}" backup --database q --container inc --out inc-1 --since inc-full --page-size 5 >inc-1.out 2>inc-1.err; then
    restored "an increment under writes holds every item at least as new as its start" inc-1 q inc
  else fail "increment under writes: $(tail -2 inc-1.err)"; fi

  echo "$passed passed, $failed failed"
  (( failed == 0 ))
'
