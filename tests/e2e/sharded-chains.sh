#!/usr/bin/env bash
# Sharded increments and sharded account backups, the shards run as concurrent processes (the
# scheduler itself is slurm-shards.sh's part):
#   - a container of 4 ranges: a full backup in 3 shards, changes and a split, an increment in 2
#     shards whose key files equal those of the same increment taken by one process, more
#     changes, a second increment in 3 shards, one of them killed part-way and run again; the
#     chain restores exactly;
#   - a shard of an increment since another parent is refused at its start, and finish refuses
#     an increment whose parent changed after its shards;
#   - an account of three containers: a full backup in 2 shards, changes, an increment in 3
#     shards of which one runs only after a first finish was refused naming its containers;
#     the account restores exactly; a shard with another selection is refused.
# Prints one line per case and "N passed, N failed".
# Usage: sharded-chains.sh BUILD_DIR
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "${1:?usage: sharded-chains.sh BUILD_DIR}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export CLOUDSDK_LOG="$work/bridge.log" SC_BUILD="$build" SC_WORK="$work" SC_HERE="$here"
"$here/scripted/with-scripted-server.sh" --ranges 4 -- bash -c '
  set -uo pipefail
  cd "$SC_WORK"
  tool=("$SC_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify)
  passed=0 failed=0
  pass() { echo "PASS $1"; passed=$((passed + 1)); }
  fail() { echo "FAIL $1"; failed=$((failed + 1)); }
  cli() { node "$SC_HERE/scripted/cli.js" "$@"; }
  # shards NAME N ARG...: runs backup ARG... --shard I/N for every I at once; true when all succeed.
  shards() {
    local name=$1 n=$2 pids=() i ok=0
    shift 2
    for ((i = 0; i < n; i++)); do
      "${tool[@]}" backup "$@" --shard $i/$n >"$name-$i.out" 2>&1 &
      pids+=($!)
    done
    for i in "${pids[@]}"; do wait $i || ok=1; done
    return $ok
  }
  chain_of() { node -e "console.log(JSON.stringify(require(\"./$1/manifest.json\").chain.$2))"; }

  cli seed --db d --coll c --count 3000 >/dev/null || { echo "FAIL seeding"; exit 1; }
  src=(--database d --container c --page-size 100)
  shards full 3 "${src[@]}" --out full && "${tool[@]}" backup --finish --out full >/dev/null \
    && pass "full backup in 3 shards" || fail "full backup in 3 shards: $(cat full-*.out)"

  cli mutate --db d --coll c --updates 200 --deletes 150 --inserts 100 >/dev/null
  cli split --db d --coll c --range 1 >/dev/null
  shards inc1 2 "${src[@]}" --since full --out inc1 && "${tool[@]}" backup --finish --out inc1 >inc1.out 2>&1 \
    && grep -q "increment 2 of its chain: 300 changed items, 150 deleted, 2950 items in all" inc1.out \
    && pass "increment in 2 shards across a split: 300 changed, 150 deleted" || fail "increment in 2 shards: $(cat inc1*.out)"
  "${tool[@]}" backup "${src[@]}" --since full --out single >/dev/null 2>&1
  [[ $(chain_of inc1 keys) == $(chain_of single keys) && $(chain_of inc1 deletions) == $(chain_of single deletions) ]] \
    && pass "its key files equal those of one process" || fail "key files differ: $(chain_of inc1 keys) $(chain_of single keys)"

  if "${tool[@]}" backup "${src[@]}" --since single --out inc1b --shard 0/2 >/dev/null 2>&1 && \
     ! "${tool[@]}" backup "${src[@]}" --since full --out inc1b --shard 1/2 >/dev/null 2>foreign.err && \
     grep -q "of an increment since another backup" foreign.err; then
    pass "a shard of an increment since another parent is refused"
  else fail "increment shard of another parent: $(cat foreign.err)"; fi

  # A parent replaced after its increment'"'"'s shards read: finish refuses rather than compare the
  # shards'"'"' keys with another key set.
  cp -r single parent && shards moved 2 "${src[@]}" --since parent --out moved
  echo " " >>parent/manifest.json
  if "${tool[@]}" backup --finish --out moved >/dev/null 2>moved.err; then fail "an increment whose parent changed was finished"
  elif grep -q "its parent .* changed since the shards were taken" moved.err && [[ ! -e moved/manifest.json ]]; then
    pass "finish refuses an increment whose parent changed after its shards"
  else fail "changed parent: $(cat moved.err moved-*.out)"; fi

  cli mutate --db d --coll c --updates 300 --deletes 40 --inserts 30 --round 2 >/dev/null
  inc2=(--database d --container c --since inc1 --out inc2 --page-size 10 --parallel 1)
  "${tool[@]}" backup "${inc2[@]}" --shard 1/3 >killed.out 2>&1 &
  pid=$!
  cli kill --pid $pid --items 40 --count read >/dev/null
  if wait $pid || [[ ! -e inc2/checkpoint-s0001.json ]]; then fail "shard 1 of the increment was not killed part-way: $(cat killed.out)"
  elif shards inc2 3 "${inc2[@]}" && "${tool[@]}" backup --finish --out inc2 >inc2.out 2>&1 \
       && grep -q "increment 3 of its chain: 330 changed items, 40 deleted" inc2.out; then
    pass "second increment in 3 shards, one killed part-way and run again"
  else fail "second increment: $(cat inc2*.out)"; fi
  "${tool[@]}" restore --from inc2 --database r --container c >/dev/null 2>&1 && cli compare --db d --coll c --db2 r >cmp.out \
    && pass "the sharded chain restores exactly" || fail "chain restore: $(cat cmp.out)"

  cli seed --db a --coll one --count 1200 >/dev/null && cli seed --db a --coll two --count 300 >/dev/null \
    && cli seed --db b --coll three --count 600 >/dev/null || fail "seeding the account"
  account=(--all-databases --include "a/*" --include "b/*")
  shards acc 2 "${account[@]}" --out acc && "${tool[@]}" backup --finish --out acc >acc.out 2>&1 \
    && grep -q "3 of 3 containers done, 2100 items" acc.out && pass "account backup in 2 shards" \
    || fail "account in 2 shards: $(cat acc*.out)"
  cli mutate --db a --coll one --updates 60 --deletes 30 --inserts 20 >/dev/null
  cli mutate --db b --coll three --updates 10 --deletes 5 --inserts 5 >/dev/null
  "${tool[@]}" backup "${account[@]}" --since acc --out acc2 --shard 0/3 >/dev/null 2>&1
  "${tool[@]}" backup "${account[@]}" --since acc --out acc2 --shard 1/3 >/dev/null 2>&1
  if "${tool[@]}" backup --finish --out acc2 >early.out 2>&1; then fail "an account with a shard missing was finished"
  elif grep -q "shards of 3 missing: 2 (never ran)" early.out && [[ ! -e acc2/account.json ]]; then
    pass "account finish with a shard missing refused, naming it, no account.json"
  else fail "early account finish: $(cat early.out)"; fi
  if "${tool[@]}" backup --all-databases --since acc --out acc2 --shard 2/3 >/dev/null 2>scope.err; then
    fail "a shard with another selection joined"
  elif grep -q "holds a sharded backup run of all databases --include" scope.err; then pass "a shard with another selection refused"
  else fail "another selection: $(cat scope.err)"; fi
  "${tool[@]}" backup "${account[@]}" --since acc --out acc2 --shard 2/3 >/dev/null 2>&1
  "${tool[@]}" backup --finish --out acc2 >acc2.out 2>&1 && grep -q "3 of 3 containers done" acc2.out \
    && [[ -e acc2/account.json && ! -e acc2/account-checkpoint.json && ! -e acc2/shard-run.json ]] \
    && pass "account increment finished after its last shard" || fail "account increment: $(cat acc2.out)"
  "${tool[@]}" restore --from acc2 --database-map a=ra --database-map b=rb >/dev/null 2>&1
  same=0
  for pair in "a one ra" "a two ra" "b three rb"; do
    set -- $pair
    cli compare --db $1 --coll $2 --db2 $3 >>acmp.out && same=$((same + 1))
  done
  (( same == 3 )) && pass "the sharded account chain restores exactly" || fail "account restore: $(cat acmp.out)"

  echo "$passed passed, $failed failed"
  (( failed == 0 ))
'
