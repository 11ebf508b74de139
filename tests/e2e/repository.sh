#!/usr/bin/env bash
# Repositories of backups on the scripted server, in a directory and in blob storage (azurite):
#   - a new repository is encrypted unless --insecure-no-encryption; no password: refused;
#   - backups into it: a full one, then increments of the source's newest on their own; --full;
#     names of databases and containers nowhere in an encrypted repository's paths or bytes;
#   - list-backups --json: the documented shape, oldest first, parents, items of the state;
#     an account run as one entry per container with its "run";
#   - restore latest, by id and --at (the summary names the backup), verify --backup;
#   - a wrong password: exit 1 before any request; key list --repo;
#   - two sources backed up at once into one repository;
#   - sharded runs into the encrypted repository: two tasks at once join one run, a task of another
#     shard count is refused naming the recorded one, the run is listed incomplete until
#     --finish; restore latest is exact; the next sharded run is an increment of it;
#   - check: clean, then a deleted data file, a flipped byte (--read-data) and a removed chain
#     base, each listed with every backup it makes unrestorable (exit 4);
#   - forget: a kept increment keeps its base and parents (--dry-run says why), --prune removes
#     the rest; prune never touches what a kept backup names; the kept one restores exactly;
#   - a prune killed midway (and at random moments) is completed by the next one, the kept
#     backup whole throughout; one writer per source.
# Prints one line per case and "N passed, N failed".
# Usage: repository.sh BUILD_DIR
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "${1:?usage: repository.sh BUILD_DIR}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export CLOUDSDK_LOG="$work/bridge.log" RP_BUILD="$build" RP_WORK="$work" RP_HERE="$here"
"$here/scripted/with-scripted-server.sh" -- "$here/with-azurite.sh" bash -c '
  set -uo pipefail
  cd "$RP_WORK"
  tool=("$RP_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify --quiet)
  passed=0 failed=0
  pass() { echo "PASS $1"; passed=$((passed + 1)); }
  fail() { echo "FAIL $1"; failed=$((failed + 1)); }
  cli() { node "$RP_HERE/scripted/cli.js" "$@"; }
  blob() { node "$RP_HERE/blob.js" "$@"; }
  requests() { cli stats | node -e "let s=\"\";process.stdin.on(\"data\",d=>s+=d).on(\"end\",()=>console.log(JSON.parse(s).requests))"; }
  # js EXPR FILE: EXPR evaluated over the JSON document in FILE as `d`.
  js() { node -e "const d=JSON.parse(require(\"fs\").readFileSync(process.argv[1],\"utf8\")); console.log($1)" "$2"; }
  umask 077
  printf "repository password\n" >pw
  printf "not the password\n" >wrong
  chmod 600 pw wrong
  export COSMOS_BACKUP_PASSWORD_FILE=$PWD/pw

  cli seed --db salesdb --coll orders2026 --count 1200 >/dev/null || { echo "FAIL seeding"; exit 1; }
  cli seed --db hrdb --coll payroll --count 300 >/dev/null

  # run_case NAME REPO N ROUND: the whole life of a repository at REPO (a directory or a blob URL),
  # of salesdb/orders2026 holding N items, changed in rounds ROUND and ROUND+1.
  run_case() {
    local name=$1 repo=$2 n=$3 round=$4
    COSMOS_BACKUP_PASSWORD_FILE= "${tool[@]}" backup --repo "$repo" --database salesdb --container orders2026 >$name-nopw.out 2>&1
    [[ $? == 1 ]] && grep -q "a new repository is encrypted" $name-nopw.out && pass "$name: a new repository without a password is refused" \
      || fail "$name: no password: $(cat $name-nopw.out)"

    "${tool[@]}" backup --repo "$repo" --database salesdb --container orders2026 >$name-b1.out 2>&1 \
      && pass "$name: a first backup into a new repository" || fail "$name: first backup: $(cat $name-b1.out)"
    sleep 1
    cli mutate --db salesdb --coll orders2026 --updates 50 --deletes 20 --inserts 10 --round $round >/dev/null
    "${tool[@]}" backup --repo "$repo" --database salesdb --container orders2026 >$name-b2.out 2>&1 \
      && grep -q "increment 2 of its chain: 60 changed items, 20 deleted" $name-b2.out \
      && pass "$name: the second is an increment of the first" || fail "$name: increment: $(cat $name-b2.out)"
    sleep 1
    cli mutate --db salesdb --coll orders2026 --updates 10 --deletes 5 --inserts 5 --round $((round + 1)) >/dev/null
    # Two sources at once: another container, and the same container again (an increment).
    "${tool[@]}" backup --repo "$repo" --database hrdb --container payroll >$name-hr.out 2>&1 & hr=$!
    "${tool[@]}" backup --repo "$repo" --database salesdb --container orders2026 >$name-b3.out 2>&1 & b3=$!
    wait $hr && wait $b3 && grep -q "increment 3 of its chain" $name-b3.out \
      && pass "$name: two sources backed up at once" || fail "$name: two at once: $(cat $name-hr.out $name-b3.out)"

    "${tool[@]}" --json list-backups --repo "$repo" >$name-list.json 2>$name-list.err
    shape=$(js "d.backups.map(b=>Object.keys(b).join(\",\")).join(\";\")" $name-list.json)
    want="id,time,database,container,kind,parent,items,bytes,requestCharge,seconds,toolVersion,complete"
    [[ $shape == "$want;$want;$want;$want" ]] && pass "$name: list-backups --json has the documented shape" || fail "$name: shape $shape"
    js "d.backups.filter(b=>b.container===\"orders2026\").map(b=>[b.kind,b.items,b.complete,b.requestCharge>0,b.bytes>0].join(\" \")).join(\",\")" $name-list.json >$name-kinds
    [[ $(cat $name-kinds) == "full $n true true true,increment $((n - 10)) true true true,increment $((n - 10)) true true true" ]] \
      && pass "$name: kinds, items of the state, figures" || fail "$name: entries $(cat $name-kinds)"
    ids=($(js "d.backups.filter(b=>b.container===\"orders2026\").map(b=>b.id).join(\" \")" $name-list.json))
    parents=$(js "d.backups.filter(b=>b.container===\"orders2026\").map(b=>b.parent).join(\" \")" $name-list.json)
    [[ $parents == " ${ids[0]} ${ids[1]}" ]] && js "d.backups.map(b=>b.time).join()===d.backups.map(b=>b.time).sort().join()" $name-list.json | grep -q true \
      && pass "$name: oldest first, each increment names its parent" || fail "$name: parents $parents of ${ids[*]}"

    "${tool[@]}" restore --repo "$repo" --backup latest --source salesdb/orders2026 --database $name-latest >$name-rl.out 2>&1 \
      && grep -q "backup ${ids[2]}" $name-rl.out && cli compare --db salesdb --coll orders2026 --db2 $name-latest >/dev/null \
      && pass "$name: restore latest: the newest, exact" || fail "$name: restore latest: $(cat $name-rl.out)"
    "${tool[@]}" restore --repo "$repo" --backup "${ids[0]}" --database $name-first >$name-r1.out 2>&1 \
      && "${tool[@]}" verify --repo "$repo" --backup "${ids[0]}" --database $name-first >$name-v1.out 2>&1 \
      && grep -q "$n items in the backup, $n in the container, $n equal, 0 problems" $name-v1.out \
      && pass "$name: restore and verify by id" || fail "$name: by id: $(cat $name-r1.out $name-v1.out)"
    at=$(js "d.backups.find(b=>b.id===\"${ids[1]}\").time" $name-list.json)
    "${tool[@]}" restore --repo "$repo" --at "$at" --source salesdb/orders2026 --database $name-at >$name-at.out 2>&1 \
      && grep -q "backup ${ids[1]} of salesdb/orders2026, taken $at" $name-at.out \
      && "${tool[@]}" verify --repo "$repo" --backup "${ids[1]}" --database $name-at >$name-vat.out 2>&1 && grep -q " 0 problems" $name-vat.out \
      && pass "$name: restore --at takes the newest at or before the time and names it" || fail "$name: --at: $(cat $name-at.out $name-vat.out)"
    "${tool[@]}" restore --repo "$repo" --backup latest --database $name-x >$name-amb.out 2>&1
    [[ $? == 2 ]] && grep -q "several sources" $name-amb.out && pass "$name: latest among several sources needs --source" \
      || fail "$name: ambiguous latest: $(cat $name-amb.out)"

    before=$(requests)
    "${tool[@]}" --password-file wrong restore --repo "$repo" --backup latest --source hrdb/payroll --database $name-w >$name-wrong.out 2>&1
    status=$?
    [[ $status == 1 ]] && grep -q "wrong password" $name-wrong.out && [[ $(requests) == "$before" ]] \
      && pass "$name: a wrong password exits 1 before any request" || fail "$name: wrong password: $status $(cat $name-wrong.out)"
    "${tool[@]}" key list --repo "$repo" 2>&1 | grep -q "scrypt N=" && pass "$name: key list --repo" || fail "$name: key list"

    "${tool[@]}" check --repo "$repo" >$name-check.out 2>&1 && grep -q "check: 4 backups, 0 problems" $name-check.out \
      && pass "$name: check: clean" || fail "$name: check: $(cat $name-check.out)"

    "${tool[@]}" backup --repo "$repo" --database salesdb --all-databases >/dev/null 2>&1
    "${tool[@]}" backup --repo "$repo" --database hrdb >$name-acc.out 2>&1 \
      && "${tool[@]}" --json list-backups --repo "$repo" --database hrdb >$name-acc.json \
      && [[ $(js "d.backups.filter(b=>b.run).map(b=>[b.container,b.kind,b.items,b.complete,b.id.startsWith(b.run+\"/\")].join(\" \")).join()" $name-acc.json) == "payroll full $(js "d.backups.find(b=>!b.run).items" $name-acc.json) true true" ]] \
      && pass "$name: an account run is listed per container with its run" || fail "$name: account run: $(cat $name-acc.out $name-acc.json)"
    accid=$(js "d.backups.find(b=>b.run).id" $name-acc.json)
    "${tool[@]}" restore --repo "$repo" --backup "$accid" --database $name-accr >$name-accr.out 2>&1 \
      && cli compare --db hrdb --coll payroll --db2 $name-accr >/dev/null && pass "$name: a container of an account run restores by its id" \
      || fail "$name: account container restore: $(cat $name-accr.out)"

    sleep 1
    cli mutate --db hrdb --coll payroll --updates 10 --deletes 4 --inserts 3 --round $((round + 20)) >/dev/null
    "${tool[@]}" backup --repo "$repo" --database hrdb >$name-acc2.out 2>&1 \
      && "${tool[@]}" --json list-backups --repo "$repo" --database hrdb >$name-acc2.json \
      && [[ $(js "d.backups.filter(b=>b.run).map(b=>b.kind+\" \"+(b.parent||\"-\")).join()" $name-acc2.json) == "full -,increment $accid" ]] \
      && "${tool[@]}" restore --repo "$repo" --backup latest --source hrdb --database-map hrdb=$name-acc2 >$name-accr2.out 2>&1 \
      && cli compare --db hrdb --coll payroll --db2 $name-acc2 >/dev/null \
      && pass "$name: the next account run is an increment of the last, restored by latest exactly" \
      || fail "$name: account increment: $(cat $name-acc2.out $name-acc2.json $name-accr2.out)"
    sleep 1
    "${tool[@]}" backup --repo "$repo" --database salesdb --container orders2026 --full >$name-full.out 2>&1 \
      && "${tool[@]}" --json list-backups --repo "$repo" --container orders2026 >$name-l2.json \
      && [[ $(js "d.backups.map(b=>b.kind+(b.parent===null?\"-\":\"+\")).join()" $name-l2.json) == "full-,increment+,increment+,full-" ]] \
      && pass "$name: --full starts a new chain" || fail "$name: --full: $(cat $name-full.out $name-l2.json)"
    "${tool[@]}" forget --repo "$repo" --database salesdb --container orders2026 --keep-last 1 --keep-daily 1 --dry-run >$name-dry.out 2>&1
    "${tool[@]}" forget --repo "$repo" --database salesdb --container orders2026 --keep-last 2 --dry-run >$name-dry2.out 2>&1 \
      && grep -q "keep   ${ids[2]} salesdb/orders2026 (last)" $name-dry2.out \
      && grep -q "keep   ${ids[1]} salesdb/orders2026 (needed by ${ids[2]})" $name-dry2.out \
      && grep -q "keep   ${ids[0]} salesdb/orders2026 (needed by ${ids[2]})" $name-dry2.out \
      && pass "$name: a kept increment keeps its parent and base (--dry-run says why)" || fail "$name: dry run: $(cat $name-dry2.out)"
    "${tool[@]}" forget --repo "$repo" --database salesdb --container orders2026 --keep-last 1 --prune >$name-forget.out 2>&1 \
      && [[ $(grep -c "^removed" $name-forget.out) == 3 ]] \
      && "${tool[@]}" --json list-backups --repo "$repo" >$name-l3.json \
      && [[ $(js "d.backups.map(b=>b.container+\":\"+b.kind).join()" $name-l3.json) == "payroll:full,payroll:full,payroll:increment,orders2026:full" ]] \
      && pass "$name: forget --keep-last 1 --prune removes the old chain, other sources stay" || fail "$name: forget: $(cat $name-forget.out $name-l3.json)"
    "${tool[@]}" check --repo "$repo" --read-data >$name-check2.out 2>&1 \
      && "${tool[@]}" restore --repo "$repo" --backup latest --source salesdb/orders2026 --database $name-after >$name-ra.out 2>&1 \
      && cli compare --db salesdb --coll orders2026 --db2 $name-after >/dev/null \
      && pass "$name: after prune: check --read-data clean, the kept backup exact" || fail "$name: after prune: $(cat $name-check2.out $name-ra.out)"
  }

  run_case dir "$PWD/repo" 1200 1

  # sharded_run NAME: shards 0/2 and 1/2 of shardsdb/events into the directory repository at once, then its finish.
  sharded_run() {
    local name=$1
    "${tool[@]}" backup --repo "$PWD/repo" --database shardsdb --container events --shard 0/2 >$name-s0.out 2>&1 & local s0=$!
    "${tool[@]}" backup --repo "$PWD/repo" --database shardsdb --container events --shard 1/2 >$name-s1.out 2>&1 & local s1=$!
    wait $s0 && wait $s1
  }
  cli seed --db shardsdb --coll events --count 600 >/dev/null
  sharded_run sh1 && "${tool[@]}" --json list-backups --repo "$PWD/repo" --database shardsdb >sh1-list.json \
    && [[ $(js "d.backups.map(b=>b.kind+\" \"+b.complete).join()" sh1-list.json) == "full false" ]] \
    && sid=$(js "d.backups[0].id" sh1-list.json) && grep -q "$sid" sh1-s0.out && grep -q "$sid" sh1-s1.out \
    && "${tool[@]}" check --repo "$PWD/repo" >sh1-check.out 2>&1 \
    && pass "sharded: two tasks at once join one run, listed incomplete until finished" \
    || fail "sharded: two tasks: $(cat sh1-s0.out sh1-s1.out sh1-list.json sh1-check.out)"
  "${tool[@]}" backup --repo "$PWD/repo" --database shardsdb --container events --shard 0/3 >sh1-s3.out 2>&1
  [[ $? == 1 ]] && grep -q "runs as 2 shards, not 3" sh1-s3.out \
    && ! "${tool[@]}" backup --repo "$PWD/repo" --database shardsdb --container events >sh1-one.out 2>&1 \
    && grep -q "sharded backup $sid of shardsdb/events (2 shards) is unfinished" sh1-one.out \
    && pass "sharded: a task of another shard count, and a run of one process, are refused while it is unfinished" \
    || fail "sharded: another N: $(cat sh1-s3.out sh1-one.out)"
  "${tool[@]}" backup --repo "$PWD/repo" --database shardsdb --container events --finish >sh1-fin.out 2>&1 \
    && "${tool[@]}" --json list-backups --repo "$PWD/repo" --database shardsdb >sh1-done.json \
    && [[ $(js "d.backups.map(b=>[b.id,b.kind,b.items,b.complete].join(\" \")).join()" sh1-done.json) == "$sid full 600 true" ]] \
    && "${tool[@]}" restore --repo "$PWD/repo" --backup latest --source shardsdb/events --database sh1-r >sh1-r.out 2>&1 \
    && cli compare --db shardsdb --coll events --db2 sh1-r >/dev/null \
    && ! "${tool[@]}" backup --repo "$PWD/repo" --database shardsdb --container events --finish >sh1-fin2.out 2>&1 \
    && grep -q "no sharded backup of shardsdb/events to finish" sh1-fin2.out \
    && pass "sharded: --finish completes the run (once); restore latest exact" || fail "sharded: finish: $(cat sh1-fin.out sh1-done.json sh1-r.out sh1-fin2.out)"
  sleep 1
  cli mutate --db shardsdb --coll events --updates 30 --deletes 10 --inserts 5 --round 40 >/dev/null
  sharded_run sh2 && "${tool[@]}" backup --repo "$PWD/repo" --database shardsdb --container events --finish >sh2-fin.out 2>&1 \
    && "${tool[@]}" --json list-backups --repo "$PWD/repo" --database shardsdb >sh2-list.json \
    && [[ $(js "d.backups.map(b=>[b.kind,b.parent,b.items,b.complete,b.requestCharge>0].join(\" \")).join()" sh2-list.json) == "full  600 true true,increment $sid 595 true true" ]] \
    && "${tool[@]}" restore --repo "$PWD/repo" --backup latest --source shardsdb/events --database sh2-r >sh2-r.out 2>&1 \
    && cli compare --db shardsdb --coll events --db2 sh2-r >/dev/null \
    && pass "sharded: the next sharded run is an increment of the last (with the request units of its shards), restored exactly" \
    || fail "sharded: increment: $(cat sh2-s0.out sh2-s1.out sh2-fin.out sh2-list.json sh2-r.out)"
  found=""
  for word in salesdb orders2026 hrdb payroll shardsdb item-0000001 pk-0042; do
    grep -rlaF -- "$word" repo >/dev/null && found+=" content:$word"
    find repo | grep -qF -- "$word" && found+=" name:$word"
  done
  [[ -z $found ]] && pass "dir: no database or container name, id or text in the repository" || fail "dir: plaintext:$found"

  blob create-container backups >/dev/null
  run_case blob "$STORAGE_ENDPOINT/$STORAGE_ACCOUNT/backups/repo" 1190 5

  # Damage, in a repository without encryption (its files are found by name).
  plain=$PWD/plain
  "${tool[@]}" backup --repo $plain --insecure-no-encryption --database hrdb --container payroll >plain.out 2>&1 \
    && [[ -z $(ls $plain | grep "^key-") ]] && pass "an unencrypted repository with --insecure-no-encryption" || fail "insecure: $(cat plain.out)"
  for round in 3 4; do
    sleep 1
    cli mutate --db hrdb --coll payroll --updates 20 --deletes 5 --inserts 5 --round $((round + 10)) >/dev/null
    "${tool[@]}" backup --repo $plain --database hrdb --container payroll >>plain.out 2>&1
  done
  pids=($(ls $plain | grep "^2"))
  [[ ${#pids[@]} == 3 ]] || fail "three backups: ${pids[*]} $(cat plain.out)"
  "${tool[@]}" check --repo $plain >pc.out 2>&1 && pass "check of the unencrypted repository: clean" || fail "check: $(cat pc.out)"
  victim=$(ls $plain/${pids[1]} | grep "^items-" | head -1)
  rm $plain/${pids[1]}/$victim
  file=$(ls $plain/${pids[2]}/items-* | head -1)
  printf "\\x00" | dd of="$file" bs=1 seek=20 conv=notrunc status=none
  "${tool[@]}" check --repo $plain >pc1.out 2>&1
  status=$?
  [[ $status == 4 ]] && grep -q "problem: ${pids[1]}: $victim is missing; unrestorable: ${pids[1]}, ${pids[2]}$" pc1.out \
    && [[ $(grep -c "^problem:" pc1.out) == 1 ]] \
    && pass "check: a deleted file, with the backups it breaks (exit 4)" || fail "check deleted file: $status $(cat pc1.out)"
  "${tool[@]}" check --repo $plain --read-data >pc2.out 2>&1
  [[ $? == 4 ]] && grep -q "problem: ${pids[1]}: $victim is missing" pc2.out && grep -q "problem: ${pids[2]}: .*unrestorable: ${pids[2]}$" pc2.out \
    && pass "check --read-data: the flipped byte too" || fail "check --read-data: $(cat pc2.out)"
  rm -rf $plain/${pids[0]}
  "${tool[@]}" check --repo $plain >pc3.out 2>&1
  [[ $? == 4 ]] && grep -q "problem: ${pids[0]}: .*unrestorable: ${pids[0]}, ${pids[1]}, ${pids[2]}$" pc3.out \
    && grep -q "problem: ${pids[1]}: $victim is missing" pc3.out \
    && pass "check: a removed chain base breaks the whole chain, every problem listed" || fail "check removed base: $(cat pc3.out)"

  # A prune killed midway: one forgotten backup without its manifest, another with only its forget
  # mark left; the next prune completes both, the kept backup untouched.
  k=$PWD/killed
  for i in 1 2 3; do "${tool[@]}" backup --repo $k --insecure-no-encryption --database hrdb --container payroll --full >>k.out 2>&1; sleep 1; done
  kids=($(ls $k | grep "^2"))
  "${tool[@]}" forget --repo $k --keep-last 1 >kf.out 2>&1
  rm $k/${kids[0]}/manifest.json
  rm -r $k/${kids[1]} $k/run-${kids[1]}.json
  "${tool[@]}" prune --repo $k >kp.out 2>&1 && [[ $(ls $k | grep -v "^source-" | sort | tr "\n" " ") == "${kids[2]} repository.json run-${kids[2]}.json " ]] \
    && "${tool[@]}" check --repo $k --read-data >kc.out 2>&1 \
    && pass "a prune killed midway is completed by the next, the kept backup whole" || fail "killed prune: $(cat kf.out kp.out kc.out; ls $k)"

  # Prune killed at random moments: after each kill the kept backup checks whole; a last prune
  # completes, leaving only the kept one.
  r=$PWD/randomkill
  for i in 1 2 3 4; do "${tool[@]}" backup --repo $r --insecure-no-encryption --database hrdb --container payroll --full >>rk.out 2>&1; sleep 1; done
  "${tool[@]}" forget --repo $r --keep-last 1 >>rk.out 2>&1
  kept=$(ls $r | grep "^2" | tail -1)
  whole=1
  for delay in 0.05 0.1 0.15 0.2 0.25 0.3; do
    ( timeout -s KILL $delay "${tool[@]}" prune --repo $r >>rk.out 2>&1 ) 2>/dev/null
    "${tool[@]}" check --repo $r --read-data >rkc.out 2>&1 || { whole=0; cat rkc.out >>rk.out; }
  done
  "${tool[@]}" prune --repo $r >>rk.out 2>&1 && (( whole )) && [[ $(ls $r | grep "^2") == "$kept" ]] \
    && "${tool[@]}" check --repo $r --read-data >/dev/null 2>&1 \
    && pass "prune killed at random moments: the kept backup whole throughout, a re-run completes" || fail "random kills: $(cat rk.out; ls $r)"

  # One writer per source: while another process holds the lock of hrdb/payroll, a backup of it is
  # refused and one of another source goes on.
  python3 -c "
import fcntl, os, struct, sys, time
fd = os.open(sys.argv[1], os.O_RDWR)
fcntl.fcntl(fd, 37, struct.pack(\"hhqqii\", fcntl.F_WRLCK, 0, 0, 0, 0, 0))  # F_OFD_SETLK, as the tool locks
print(\"held\", flush=True)
time.sleep(60)" $k/source-*.lock >held.out & holder=$!
for _ in $(seq 50); do grep -q held held.out && break; sleep 0.1; done
"${tool[@]}" backup --repo $k --database hrdb --container payroll >same.out 2>&1
status=$?
"${tool[@]}" backup --repo $k --database salesdb --container orders2026 >other.out 2>&1 && other=0 || other=1
kill $holder
[[ $status == 1 ]] && grep -q "another run holds" same.out && [[ $other == 0 ]] \
  && pass "a second writer of one source is refused, another source goes on" || fail "one writer: $status $other $(cat held.out same.out other.out)"

  echo "$passed passed, $failed failed"
  (( failed == 0 ))
'
