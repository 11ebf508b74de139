#!/usr/bin/env bash
# One writer at a time, restores that write only where they may, seals that check what they seal,
# and runs that always end, tried as a user's scheduler would run the tool:
#   - a backup stopped part-way, then two `--resume` at once (a directory and a blob prefix): one
#     is refused naming the other run, nothing is lost, the backup restores exactly;
#   - two copies of one shard at once, a finish, and a late copy after it: the backup stays whole;
#   - a sharded restore without --database against the live source: refused, the source unchanged;
#     a sharded restore re-run with another shard count: refused at once, naming the count;
#   - a shard record that lies (a file entry removed): finish refuses; a manifest whose item count
#     disagrees with its key file: restore and verify --offline refuse;
#   - a chain restore --resume after a plain restore of its base into the same target: refused;
#   - an account backup killed, one container deleted and one re-created, then --resume: it ends,
#     and the account restores without the deleted container; a sharded account run with a
#     container deleted between its shards ends as well; a resume given --exclude leaves the
#     excluded unfinished container out;
#   - a finish killed at random moments, then run again: it completes and the backup is exact.
# Prints one line per case and "N passed, N failed".
# Usage: one-writer.sh BUILD_DIR
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "${1:?usage: one-writer.sh BUILD_DIR}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export CLOUDSDK_LOG="$work/bridge.log" OW_BUILD="$build" OW_WORK="$work" OW_HERE="$here"
"$here/scripted/with-scripted-server.sh" --ranges 4 -- "$here/with-azurite.sh" bash -c '
  set -uo pipefail
  cd "$OW_WORK"
  tool=("$OW_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify)
  passed=0 failed=0
  pass() { echo "PASS $1"; passed=$((passed + 1)); }
  fail() { echo "FAIL $1"; failed=$((failed + 1)); }
  cli() { node "$OW_HERE/scripted/cli.js" "$@"; }
  sdk() {
    node -e "const { makeClient } = require(process.argv[1]); const client = makeClient(process.env.COSMOS_ENDPOINT, process.env.COSMOS_KEY);
      (async () => { $1 })().catch((e) => { console.error(e.message); process.exit(1); })" "$OW_HERE/cosmos-client.js"
  }
  edit() { node -e "const fs = require(\"fs\"); const f = process.argv[1]; const j = JSON.parse(fs.readFileSync(f, \"utf8\")); $2; fs.writeFileSync(f, JSON.stringify(j))" "$1"; }
  # restores_exactly NAME LOCATION DB: LOCATION restores into DB/c equal to d/c.
  restores_exactly() {
    if "${tool[@]}" restore --from "$2" --database "$3" --container c >"$3.out" 2>&1 && cli compare --db d --coll c --db2 "$3" >"$3.cmp"; then
      pass "$1"
    else fail "$1: $(tail -2 "$3.out") $(cat "$3.cmp" 2>/dev/null)"; fi
  }
  # killed_backup LOCATION ARG...: a backup of d/c into LOCATION, killed once 300 items were read.
  killed_backup() {
    local location=$1; shift
    "${tool[@]}" backup --database d --container c --out "$location" --page-size 20 --parallel 1 "$@" >killed.out 2>&1 &
    local pid=$!
    cli kill --pid $pid --items 300 --count read >/dev/null
    wait $pid
  }
  # two_at_once NAME CMD...: CMD twice at once; passes when one is refused naming the other run.
  two_at_once() {
    local name=$1 a b; shift
    "$@" >first.out 2>&1 & a=$!
    "$@" >second.out 2>&1 & b=$!
    wait $a; local ra=$?; wait $b; local rb=$?
    if grep -q "another run holds this backup (host .*, pid [0-9]*, since " first.out second.out && (( ra == 0 || rb == 0 )); then
      pass "$name: one run, the other refused naming it"
    else fail "$name: exits $ra $rb: $(tail -2 first.out) / $(tail -2 second.out)"; fi
  }

  n=0
  cli seed --db d --coll c --count 3000 >/dev/null || { echo "FAIL seeding"; exit 1; }

  # 1. Two resumes at once, in a directory and in blob storage.
  node "$OW_HERE/blob.js" create-container backups >/dev/null || fail "creating the blob container"
  blob="$STORAGE_ENDPOINT/$STORAGE_ACCOUNT/backups/two"
  for location in "$OW_WORK/two" "$blob"; do
    if [[ $location == "$blob" ]]; then
      # A killed run'"'"'s lease lasts its minute: this one stops on a refused page and lets it go.
      cli fail --status 403 --times 1 --afterRequests 12 --pathContains /docs >/dev/null
      "${tool[@]}" backup --database d --container c --out "$location" --page-size 20 --parallel 1 >stopped.out 2>&1 \
        && fail "the backup into blob storage did not stop: $(cat stopped.out)"
    else killed_backup "$location"; fi
    two_at_once "two resumes at once into $location" "${tool[@]}" backup --out "$location" --resume --parallel 1
    "${tool[@]}" backup --out "$location" --resume >again.out 2>&1 && grep -qi "complete" again.out \
      && pass "a third resume finds the backup complete" || fail "third resume: $(cat again.out)"
    restores_exactly "the backup of two resumes restores exactly" "$location" "r$((++n))"
  done

  # 2. Two copies of one shard at once, a finish between, a late copy after it.
  shard=(--database d --container c --out sh --page-size 20 --parallel 1)
  killed_backup sh --shard 0/2
  two_at_once "two copies of shard 0/2" "${tool[@]}" backup "${shard[@]}" --shard 0/2
  "${tool[@]}" backup "${shard[@]}" --shard 1/2 >s1.out 2>&1 && "${tool[@]}" backup --finish --out sh >fin.out 2>&1 \
    || fail "shards and finish: $(cat s1.out fin.out)"
  "${tool[@]}" backup "${shard[@]}" --shard 0/2 >late.out 2>&1
  restores_exactly "after a late copy of a finished shard the backup restores exactly" sh r3

  # 3. A sharded restore without --database against the live source changes nothing.
  cli mutate --db d --coll c --updates 200 --deletes 50 --inserts 0 >/dev/null
  cli dump --db d --coll c >before.json
  "${tool[@]}" restore --from sh --shard 0/2 >rs0.out 2>&1; r0=$?
  "${tool[@]}" restore --from sh --shard 1/2 >rs1.out 2>&1; r1=$?
  "${tool[@]}" restore --from sh --finish >rsf.out 2>&1; rf=$?
  cli dump --db d --coll c >after.json
  if cmp -s before.json after.json && (( r0 != 0 && r1 != 0 && rf != 0 )) && grep -q "it exists (use --into-existing" rs0.out; then
    pass "a sharded restore onto the live source is refused and writes nothing"
  else fail "sharded restore onto the source: exits $r0 $r1 $rf, source unchanged: $(cmp -s before.json after.json && echo yes || echo no): $(tail -1 rs0.out)"; fi
  "${tool[@]}" restore --from sh --database s --container c --shard 0/2 >/dev/null 2>&1
  if "${tool[@]}" restore --from sh --database s --container c --shard 1/3 >count.out 2>&1; then fail "a restore shard of another count joined"
  elif grep -q "begun in 2 shards" count.out; then pass "a restore shard of another count refused, naming the count"
  else fail "another restore shard count: $(cat count.out)"; fi

  # 4. A shard record that lies; a manifest whose item count disagrees with its key file.
  cli seed --db l --coll c --count 600 >/dev/null
  for i in 0 1; do "${tool[@]}" backup --database l --container c --out lie --shard $i/2 >/dev/null 2>&1; done
  edit lie/shard-s0000.json "j.itemCount -= j.files[0].items; j.files.shift()"
  if "${tool[@]}" backup --finish --out lie >lie.out 2>&1; then fail "finish sealed a shard record that lies"
  elif [[ ! -e lie/manifest.json ]] && grep -q "shard 0" lie.out; then pass "finish refuses a shard record that lies, naming the shard"
  else fail "lying shard record: $(cat lie.out)"; fi
  "${tool[@]}" backup --database l --container c --out short >/dev/null 2>&1
  edit short/manifest.json "j.itemCount -= j.files[0].items; j.files.shift()"
  "${tool[@]}" restore --from short --database short --container c >short.out 2>&1; rr=$?
  "${tool[@]}" verify --offline --from short >vshort.out 2>&1; rv=$?
  if (( rr != 0 && rv != 0 )) && grep -q "key file" short.out && grep -q "key file" vshort.out; then
    pass "restore and verify --offline refuse a manifest whose item count its key file contradicts"
  else fail "short manifest: restore $rr verify $rv: $(tail -1 short.out) / $(tail -2 vshort.out)"; fi

  # 5. A chain restore --resume after a plain restore of its base into the same target.
  "${tool[@]}" backup --database l --container c --out base >/dev/null 2>&1
  cli mutate --db l --coll c --updates 49 --deletes 10 --inserts 5 >/dev/null
  "${tool[@]}" backup --database l --container c --since base --out inc >/dev/null 2>&1
  "${tool[@]}" restore --from base --database p --container c >/dev/null 2>&1
  cli mutate --db p --coll c --updates 70 --round 2 >/dev/null
  if "${tool[@]}" restore --from inc --database p --container c --resume >chain.out 2>&1; then
    cli compare --db l --coll c --db2 p >/dev/null && pass "a chain resume after a plain restore restored exactly" \
      || fail "a chain resume took a plain restore for its own: $(cat chain.out)"
  elif grep -q "it exists (use --into-existing" chain.out; then pass "a chain resume after a plain restore is refused"
  else fail "chain resume after a plain restore: $(cat chain.out)"; fi

  # 6. An account backup killed; a container deleted, one re-created; the resume ends.
  for planned in one:300 two:300 three:300; do cli seed --db acc --coll ${planned%%:*} --count ${planned##*:} >/dev/null; done
  "${tool[@]}" backup --database acc --out accb --page-size 20 --parallel 1 >acc.out 2>&1 &
  pid=$!
  cli kill --pid $pid --items 200 --count read >/dev/null
  wait $pid
  sdk "await client.database(\"acc\").container(\"two\").delete();"
  cli recreate --db acc --coll three --seed 120 >/dev/null
  "${tool[@]}" backup --out accb --resume >accr.out 2>&1; ra=$?
  if (( ra != 0 )); then
    next=$(grep -o "run: cosmos-backup .*" accr.out | head -1 | sed "s/^run: cosmos-backup //")
    [[ -n $next ]] && "${tool[@]}" $next >accr2.out 2>&1; ra=$?
  fi
  if (( ra == 0 )) && node -e "const j = require(\"./accb/account.json\"); const s = {}; for (const d of j.databases) for (const c of d.containers) s[c.id] = c.status;
      process.exit(s.two === \"deleted\" && s.one === \"complete\" && s.three === \"complete\" ? 0 : 1)"; then
    pass "an account backup with a container deleted and one re-created ends"
  else fail "account with a deleted and a re-created container: $(tail -3 accr.out) $(cat accr2.out 2>/dev/null | tail -2)"; fi
  if "${tool[@]}" restore --from accb --database-map acc=accr >accrs.out 2>&1 && ! cli dump --db accr --coll two >/dev/null 2>&1 \
     && cli compare --db acc --coll three --db2 accr >/dev/null; then
    pass "the account restores without the deleted container"
  else fail "account restore: $(tail -2 accrs.out)"; fi

  # A resume given --exclude leaves the unfinished container out; the finished ones stay.
  for planned in one:300 two:300; do cli seed --db exc --coll ${planned%%:*} --count ${planned##*:} >/dev/null; done
  "${tool[@]}" backup --database exc --out excb --page-size 20 --parallel 1 >exc.out 2>&1 &
  pid=$!
  cli kill --pid $pid --items 400 --count read >/dev/null
  wait $pid
  if "${tool[@]}" backup --out excb --resume --exclude exc/two >excr.out 2>&1 && node -e "const j = require(\"./excb/account.json\"); const s = {};
      for (const d of j.databases) for (const c of d.containers) s[c.id] = c.status; process.exit(j.complete && s.one === \"complete\" && !(\"two\" in s) ? 0 : 1)"; then
    pass "an account --resume honours --exclude"
  else fail "account resume with --exclude: $(tail -2 excr.out) $(cat excb/account.json 2>/dev/null | head -c 400)"; fi

  # A sharded account run: a container deleted between its shards is recorded as deleted by finish.
  for planned in one:200 two:200; do cli seed --db sacc --coll ${planned%%:*} --count ${planned##*:} >/dev/null; done
  "${tool[@]}" backup --database sacc --out saccb --shard 0/2 >/dev/null 2>&1
  sdk "await client.database(\"sacc\").container(\"two\").delete();"
  "${tool[@]}" backup --database sacc --out saccb --shard 1/2 >sacc1.out 2>&1
  if "${tool[@]}" backup --finish --out saccb >saccf.out 2>&1 && node -e "const j = require(\"./saccb/account.json\"); const s = {};
      for (const d of j.databases) for (const c of d.containers) s[c.id] = c.status; process.exit(s.two === \"deleted\" && s.one === \"complete\" ? 0 : 1)"; then
    pass "a sharded account run with a container deleted between its shards ends"
  else fail "sharded account with a deleted container: $(tail -2 sacc1.out) $(tail -2 saccf.out)"; fi

  # 7. A finish killed at random moments, then run again.
  for i in 0 1; do "${tool[@]}" backup --database l --container c --out fk --shard $i/2 >/dev/null 2>&1; done
  kills=0
  for delay in 0.05 0.15 0.3 0.5 0.8 1.2; do
    rm -rf fk$kills && cp -r fk fk$kills
    timeout -s KILL $delay "${tool[@]}" backup --finish --out fk$kills >/dev/null 2>&1
    if "${tool[@]}" backup --finish --out fk$kills >fk.out 2>&1 && [[ -e fk$kills/manifest.json ]] \
       && ! ls fk$kills | grep -q "^shard-s\|^checkpoint"; then kills=$((kills + 1))
    else fail "finish killed after ${delay}s, then run again: $(cat fk.out)"; break; fi
  done
  # The moment a kill rarely hits: after the manifest, before the shard records went.
  cp -r fk fkm && cp fk/shard-s*.json fkm/ 2>/dev/null
  "${tool[@]}" backup --finish --out fkm >/dev/null 2>&1 && cp fk/shard-s*.json fkm/
  if (( kills == 6 )) && "${tool[@]}" backup --finish --out fkm >fkm.out 2>&1 && ! ls fkm | grep -q "^shard-s"; then
    "${tool[@]}" restore --from fkm --database fkr --container c >/dev/null 2>&1 && cli compare --db l --coll c --db2 fkr >/dev/null \
      && pass "a finish killed anywhere completes when run again" || fail "the finished backup does not restore exactly"
  else fail "finish after a kill past the manifest: $(cat fkm.out 2>/dev/null)"; fi

  echo "$passed passed, $failed failed"
  (( failed == 0 ))
'
