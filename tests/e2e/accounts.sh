#!/usr/bin/env bash
# Whole accounts in one command, on the scripted server:
#   - backup --all-databases with --exclude, one container failing part-way: the others finish,
#     account.json marks it failed, the run exits 1 and names the command that continues; the
#     resume reads only that container;
#   - restore under --database-map with --include/--exclude: each database created once (its
#     shared throughput kept), every container equal to its source; verify per container;
#     existing targets refused before anything is written;
#   - a chain across accounts: an added container gets a full backup, a deleted one is recorded
#     as deleted (and not created by the restore), a re-created one (another _rid) a full backup,
#     the others increments; the chain restored equals the source;
#   - an account backup in blob storage (azurite): each container under its prefix, restored;
#   - usage errors exit 2 with one line; --version.
# Prints one line per case and "N passed, N failed".
# Usage: accounts.sh BUILD_DIR
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "${1:?usage: accounts.sh BUILD_DIR}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export CLOUDSDK_LOG="$work/bridge.log" ACC_BUILD="$build" ACC_WORK="$work" ACC_HERE="$here"

"$here/scripted/with-scripted-server.sh" --ranges 2 -- "$here/with-azurite.sh" bash -c '
  set -uo pipefail
  cd "$ACC_WORK"
  tool=("$ACC_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify)
  passed=0 failed=0
  pass() { echo "PASS $1"; passed=$((passed + 1)); }
  fail() { echo "FAIL $1"; failed=$((failed + 1)); }
  cli() { node "$ACC_HERE/scripted/cli.js" "$@"; }
  # sdk JS: runs JS with `client` (the official SDK on the server) in an async function.
  sdk() {
    node -e "const { makeClient } = require(process.argv[1]); const client = makeClient(process.env.COSMOS_ENDPOINT, process.env.COSMOS_KEY);
      (async () => { $1 })().catch((e) => { console.error(e.message); process.exit(1); })" "$ACC_HERE/cosmos-client.js"
  }
  # json FILE EXPR: evaluates EXPR on the JSON document in FILE (as `j`).
  json() { node -e "const j = JSON.parse(require(\"fs\").readFileSync(process.argv[1], \"utf8\")); console.log($2)" "$1"; }
  # same SRC_DB COLL DST_DB: the restored container equals its source (items, definition, throughput).
  same() {
    local out
    out=$(cli compare --db "$1" --coll "$2" --db2 "$3" 2>&1) && pass "$3/$2 equals $1/$2 ($out)" || fail "$3/$2 vs $1/$2: $out"
  }

  sdk "await client.databases.create({ id: \"shop\", throughput: 800 })" || { echo "creating shop failed"; exit 1; }
  for planned in shop:orders:300 shop:audit-1:40 crm:people:200 crm:notes:120 logs:app:50; do
    IFS=: read -r db coll n <<<"$planned"
    cli seed --db "$db" --coll "$coll" --count "$n" >/dev/null || { echo "seeding $db/$coll failed"; exit 1; }
  done

  # 1. One container fails part-way (its third page is refused); the others complete.
  cli fail --status 403 --times 1 --afterRequests 2 --pathContains /colls/notes/docs >/dev/null
  "${tool[@]}" backup --all-databases --exclude "logs/*" --out acc1 --page-size 20 --parallel 3 >b1.out 2>b1.err
  rc=$?
  statuses=$(json acc1/account.json "j.databases.map(d => d.containers.map(c => d.id + \"/\" + c.id + \":\" + c.status).join(\" \")).join(\" \")")
  [[ $rc == 1 && $statuses == "crm/notes:failed crm/people:complete shop/audit-1:complete shop/orders:complete" ]] \
    && pass "a failing container does not stop the others ($statuses)" || fail "failing container: rc $rc, $statuses; $(tail -2 b1.err)"
  # The line that continues keeps the program path, the global options as given and --parallel.
  hint=$(sed -nE "s/.*to continue, run: //p" b1.err)
  [[ $hint == "${tool[*]} backup --out acc1 --resume --parallel 3" ]] && pass "the failed run names the command that continues" \
    || fail "no continuing command: $(tail -2 b1.err)"
  cli stats/reset >/dev/null
  if "${tool[@]}" --json backup --out acc1 --resume >b2.json 2>b2.err; then
    read_items=$(cli stats | node -e "let s=\"\";process.stdin.on(\"data\",d=>s+=d).on(\"end\",()=>console.log(JSON.parse(s).itemsRead))")
    [[ $(json b2.json "j.containers.every(c => c.status === \"complete\")") == true && $(json acc1/account.json j.complete) == true \
       && $read_items -le 120 ]] && pass "the resume finishes only the failed container ($read_items items read)" \
      || fail "resume: $(cat b2.json) read $read_items"
    [[ $(grep -c "^{\"progress\"" b2.err) -ge 1 && ! -e acc1/account-checkpoint.json ]] && pass "JSON progress lines; the checkpoint is gone" \
      || fail "progress lines: $(head -2 b2.err)"
  else
    fail "resume: $(tail -2 b2.err)"
  fi
  [[ $(json acc1/account.json "JSON.stringify(j.databases.find(d => d.id === \"shop\").sharedThroughput.manual)") == 800 ]] \
    && pass "the database shared throughput is recorded once" || fail "shared throughput: $(json acc1/account.json "JSON.stringify(j.databases)")"

  # A backup of one database killed part-way (before any account.json) and resumed from its plan.
  "${tool[@]}" backup --database crm --out killed --page-size 20 --parallel 1 >k1.out 2>k1.err &
  pid=$!
  cli kill --pid $pid --items 150 --count read >/dev/null
  if ! wait $pid && [[ -e killed/account-checkpoint.json && ! -e killed/account.json ]]; then
    "${tool[@]}" backup --out killed --resume >k2.out 2>k2.err && "${tool[@]}" verify --from killed >k3.out 2>k3.err \
      && grep -q "2 of 2 containers done, 320 items" k3.out && pass "a killed database backup resumed from its plan, verified" \
      || fail "killed backup resumed: $(tail -2 k2.err) $(cat k3.out)"
  else
    fail "the killed backup was not cut short: $(tail -2 k1.err)"
  fi

  # 2. Restore under a database map, narrowed; verify; existing targets refused.
  if "${tool[@]}" restore --from acc1 --database-map shop=shop2 --database-map crm=crm2 --include "shop/*" --include "crm/*" \
       --exclude "*/audit-*" >r1.out 2>r1.err; then
    same shop orders shop2; same crm people crm2; same crm notes crm2
    cli dump --db shop2 --coll audit-1 >/dev/null 2>&1 && fail "an excluded container was restored" || pass "the excluded container is not restored"
  else
    fail "account restore: $(tail -3 r1.err)"
  fi
  "${tool[@]}" verify --from acc1 --database-map shop=shop2 --database-map crm=crm2 --exclude "*/audit-*" --exclude "logs/*" >v1.out 2>v1.err \
    && grep -q "3 of 3 containers done" v1.out && pass "verify per container under the map" || fail "verify: $(cat v1.out; tail -2 v1.err)"
  "${tool[@]}" restore --from acc1 --database-map crm=crm2 --include "crm/people" >r2.out 2>r2.err
  [[ $? == 1 ]] && grep -q "exist already: crm2/people; nothing was restored" r2.err && pass "an existing target is refused before any write" \
    || fail "existing target: $(tail -1 r2.err)"

  # A restore where one container fails part-way, resumed.
  cli fail --status 403 --times 1 --afterRequests 1 --pathContains /dbs/crm5/colls/people/docs >/dev/null
  "${tool[@]}" restore --from acc1 --database-map crm=crm5 --include "crm/*" >/dev/null 2>r4.err
  rc=$?
  hint=$(sed -nE "s/.*to continue, run: //p" r4.err)
  q=$(printf "\x27")
  if [[ $rc == 1 && $hint == "${tool[*]} restore --from acc1 --include ${q}crm/*${q} --database-map crm=crm5 --resume" ]]; then
    # Run as printed.
    eval "$hint" >r5.out 2>r5.err \
      && pass "a restore with a failing container resumed" || fail "restore resume: $(tail -2 r5.err)"
    same crm people crm5; same crm notes crm5
  else
    fail "failing restore: rc $rc $(tail -2 r4.err)"
  fi

  # 3. A chain: orders changed, tickets added, audit-1 deleted, people deleted and re-created.
  cli mutate --db shop --coll orders --updates 30 --deletes 10 --inserts 5 --round 1 >/dev/null
  cli seed --db crm --coll tickets --count 60 >/dev/null
  sdk "await client.database(\"shop\").container(\"audit-1\").delete(); await client.database(\"crm\").container(\"people\").delete();"
  cli seed --db crm --coll people --count 90 --start 5000 >/dev/null
  if "${tool[@]}" --json backup --all-databases --exclude "logs/*" --exclude "crm?" --exclude "shop?" --since acc1 --out acc2 >c.json 2>c.err; then
    kinds=$(json c.json "j.containers.map(c => c.source + \":\" + c.status + \":\" + (c.kind || \"\")).join(\" \")")
    [[ $kinds == "crm/notes:complete:incremental crm/people:complete:full crm/tickets:complete:full shop/orders:complete:incremental shop/audit-1:deleted:" ]] \
      && pass "chain: increments, a new and a re-created container in full, a deleted one recorded" || fail "chain kinds: $kinds"
  else
    fail "account increment: $(tail -2 c.err)"
  fi
  if "${tool[@]}" restore --from acc2 --database-map shop=shop3 --database-map crm=crm3 >r3.out 2>r3.err; then
    same shop orders shop3; same crm notes crm3; same crm people crm3; same crm tickets crm3
    cli dump --db shop3 --coll audit-1 >/dev/null 2>&1 && fail "a deleted container was created" || pass "the deleted container is not created"
  else
    fail "chain restore: $(tail -3 r3.err)"
  fi
  "${tool[@]}" verify --from acc2 >v2.out 2>v2.err && pass "verify of the account chain against the source" || fail "verify chain: $(cat v2.out; tail -2 v2.err)"

  "${tool[@]}" verify --offline --from acc2 >v3.out 2>v3.err && grep -q "5 of 5 containers done, 565 items" v3.out \
    && pass "offline verify of the account chain" || fail "offline verify: $(cat v3.out; tail -2 v3.err)"
  # A crafted account manifest whose location leads elsewhere is refused before anything is written.
  cp -r acc1 crafted
  node -e "const fs = require(\"fs\"); const j = JSON.parse(fs.readFileSync(\"crafted/account.json\"));
    j.databases[0].containers[0].location = \"../../acc2/crm\"; fs.writeFileSync(\"crafted/account.json\", JSON.stringify(j));"
  "${tool[@]}" restore --from crafted --database-map crm=crm6 --database-map shop=shop6 >/dev/null 2>x.err
  [[ $? == 1 ]] && grep -q "not a valid account manifest: the location of" x.err && ! cli dump --db crm6 --coll notes >/dev/null 2>&1 \
    && pass "a crafted location in account.json is refused" || fail "crafted account manifest: $(tail -1 x.err)"

  # 4. In blob storage: names that are no plain path segment, each container under a prefix of its own.
  node "$ACC_HERE/blob.js" create-container backups >/dev/null || fail "creating the blob container"
  cli seed --db "my db" --coll "a.b" --count 30 >/dev/null
  blob_base="$STORAGE_ENDPOINT/$STORAGE_ACCOUNT/backups/acc"
  if "${tool[@]}" backup --database "my db" --out "$blob_base" >bl1.out 2>bl1.err \
     && "${tool[@]}" restore --from "$blob_base" --database-map "my db=blobbed" >bl2.out 2>bl2.err; then
    same "my db" a.b blobbed
  else
    fail "account backup in blob storage: $(tail -2 bl1.err) $(tail -2 bl2.err)"
  fi

  # 5. For schedulers.
  "${tool[@]}" >u1.out 2>u1.err; rc=$?
  [[ $rc == 2 && $(wc -l <u1.err) == 1 ]] && pass "no command: exit 2, one line" || fail "no command: rc $rc $(cat u1.err)"
  "${tool[@]}" restore --from "$ACC_WORK/none" >u2.out 2>u2.err; rc=$?
  [[ $rc == 2 && $(wc -l <u2.err) == 1 ]] && pass "missing --from directory: exit 2, one line" || fail "missing --from: rc $rc $(cat u2.err)"
  "${tool[@]}" --version | grep -q "^cosmos-backup [0-9]" && pass "--version" || fail "--version"

  echo "$passed passed, $failed failed"
  [[ $failed == 0 ]]
'
