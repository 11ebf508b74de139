#!/usr/bin/env bash
# How runs end, on the scripted server: each exit status of each flow (one container, account,
# chain, shard), and interrupts: SIGINT mid-backup and SIGTERM mid-restore seal what is complete,
# exit 130 / 143 and print the command that continues; that command, run as printed, finishes
# the run and its result equals the source exactly. A second SIGINT ends the run at once.
# Prints one line per case and "N passed, N failed".
# Usage: outcomes.sh BUILD_DIR
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "${1:?usage: outcomes.sh BUILD_DIR}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export CLOUDSDK_LOG="$work/bridge.log" OUT_BUILD="$build" OUT_WORK="$work" OUT_HERE="$here"

"$here/scripted/with-scripted-server.sh" --ranges 4 --latency-ms 2 -- bash -c '
  set -uo pipefail
  cd "$OUT_WORK"
  tool=("$OUT_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify)
  passed=0 failed=0
  pass() { echo "PASS $1"; passed=$((passed + 1)); }
  fail() { echo "FAIL $1"; failed=$((failed + 1)); }
  cli() { node "$OUT_HERE/scripted/cli.js" "$@"; }
  same() { cli compare --db "$1" --coll "$2" --db2 "$3" >/dev/null 2>&1; }
  hint_of() { sed -nE "s/.*to continue( it)?, run: //p" "$1" | tail -1; }

  # expect FLOW STATUS NAME CMD...: runs CMD; the case passes when it exits with STATUS.
  declare -A seen
  expect() {
    local flow=$1 want=$2 name=$3
    shift 3
    "$@" >"out.$flow.$want" 2>"err.$flow.$want"
    local rc=$?
    if [[ $rc == "$want" ]]; then
      seen[$flow]+=" $want"
      pass "$flow: $name exits $want"
    else
      fail "$flow: $name exits $rc, not $want: $(tail -2 "err.$flow.$want")"
    fi
  }

  # A copy of the backup GOOD in OUT with two items the service refuses: its restore exits 3.
  add_refused() { node "$OUT_HERE/craft-backup.js" "$1" "$2" refused-ids; }

  cli seed --db d --coll src --count 3000 >/dev/null || { echo "seeding failed"; exit 1; }
  cli seed --db e --coll other --count 200 >/dev/null || { echo "seeding failed"; exit 1; }
  settings=(--page-size 50 --items-per-file 300 --parallel 2)

  # --- Interrupts --------------------------------------------------------------------------
  "${tool[@]}" backup --database d --container src --out int-b "${settings[@]}" >int-b.out 2>int-b.err &
  pid=$!
  cli kill --pid $pid --items 800 --count read --signal SIGINT >/dev/null
  wait $pid
  rc=$?
  hint=$(hint_of int-b.err)
  partial=$(ls int-b | grep -c "partial")
  if [[ $rc == 130 && -n $hint && $partial == 0 ]]; then
    pass "SIGINT mid-backup: exit 130, nothing left unsealed, the command that continues printed"
    eval "$hint" >int-b2.out 2>int-b2.err && "${tool[@]}" verify --from int-b >int-b3.out 2>&1 \
      && grep -q "3000 items in the backup, 3000 in the container, 3000 equal, 0 problems" int-b3.out \
      && pass "the printed command finishes the backup, equal to its source" || fail "continued backup: $(tail -2 int-b2.err; cat int-b3.out)"
  else
    fail "SIGINT mid-backup: rc $rc, $partial partial files, hint \"$hint\": $(tail -2 int-b.err)"
  fi

  "${tool[@]}" restore --from int-b --database r1 --container src --parallel 4 >int-r.out 2>int-r.err &
  pid=$!
  cli kill --pid $pid --items 1000 --count written --signal SIGTERM >/dev/null
  wait $pid
  rc=$?
  hint=$(hint_of int-r.err)
  if [[ $rc == 143 && -n $hint ]]; then
    pass "SIGTERM mid-restore: exit 143, the command that continues printed"
    eval "$hint" >int-r2.out 2>int-r2.err && same d src r1 \
      && pass "the printed command finishes the restore, equal to its source" || fail "continued restore: $(tail -2 int-r2.err)"
  else
    fail "SIGTERM mid-restore: rc $rc, hint \"$hint\": $(tail -2 int-r.err)"
  fi

  "${tool[@]}" --json backup --database d --container src --out int-j "${settings[@]}" >int-j.out 2>int-j.err &
  pid=$!
  cli kill --pid $pid --items 800 --count read --signal SIGINT >/dev/null
  wait $pid
  rc=$?
  node -e "const j = JSON.parse(require(\"fs\").readFileSync(\"int-j.out\", \"utf8\"));
    process.exit(j.exitCode === 130 && j.command === \"backup\" && j.interrupted === \"SIGINT\" && /--resume/.test(j.resumeCommand) ? 0 : 1)" 2>/dev/null \
    && [[ $rc == 130 ]] && pass "--json: the interrupted run gives its document with the command that continues" \
    || fail "--json interrupt: rc $rc $(cat int-j.out)"

  # An account run: the containers being read seal what they read, the others are not begun.
  "${tool[@]}" backup --all-databases --out int-a --page-size 50 >int-a.out 2>int-a.err &
  pid=$!
  cli kill --pid $pid --items 600 --count read --signal SIGINT >/dev/null
  wait $pid
  rc=$?
  hint=$(hint_of int-a.err)
  if [[ $rc == 130 && $hint == *"backup --out int-a --resume"* ]]; then
    eval "$hint" >int-a2.out 2>int-a2.err && "${tool[@]}" verify --from int-a >int-a3.out 2>&1 \
      && pass "SIGINT mid-account-backup: exit 130, the printed command finishes it, equal to the source" \
      || fail "continued account backup: $(tail -2 int-a2.err; tail -2 int-a3.out)"
  else
    fail "SIGINT mid-account-backup: rc $rc, hint \"$hint\": $(tail -2 int-a.err)"
  fi

  # A read held up by the service (a 429 asking for 8 s) cannot stop at its page: the second
  # SIGINT ends the run at once, long before the wait is over.
  cli fail --status 429 --retryAfterMs 8000 --times 1 --afterRequests 6 --pathContains /colls/src/docs >/dev/null
  start=$SECONDS
  "${tool[@]}" backup --database d --container src --out int-2 "${settings[@]}" >int-2.out 2>int-2.err &
  pid=$!
  sleep 3
  kill -INT $pid
  sleep 0.5
  kill -INT $pid
  wait $pid
  rc=$?
  [[ $rc == 130 ]] && (( SECONDS - start < 8 )) && ! grep -q "to continue" int-2.err && pass "a second SIGINT ends the run at once" \
    || fail "second SIGINT: rc $rc after $((SECONDS - start)) s: $(tail -1 int-2.err)"

  # --- Each exit status of each flow -----------------------------------------------------
  # One container.
  expect single 0 "a backup" "${tool[@]}" backup --database d --container src --out one "${settings[@]}"
  expect single 2 "a backup with no container named" "${tool[@]}" backup --out one-x
  cli fail --status 403 --times 1 --afterRequests 3 --pathContains /colls/src/docs >/dev/null
  expect single 1 "a backup whose reads are refused" "${tool[@]}" backup --database d --container src --out one-f "${settings[@]}"
  add_refused one one-bad
  expect single 3 "a restore with refused items" "${tool[@]}" restore --from one-bad --database r2 --container src
  # Refused items are never lost: a restore killed after its refusals, resumed, lists them in
  # the report it began (kept in its record) and exits 3; an unwritable report stops it first.
  mkdir reports
  "${tool[@]}" restore --from one-bad --database r6 --container src --failure-report reports >kr.out 2>kr.err &
  pid=$!
  cli kill --pid $pid --items 900 --count written >/dev/null
  wait $pid
  rc1=$?
  "${tool[@]}" restore --from one-bad --database r6 --container src --resume >kr2.out 2>kr2.err
  rc2=$?
  listed=$(cat reports/*.jsonl 2>/dev/null | grep -c "\"status\":400")
  [[ $rc1 == 137 && $rc2 == 3 && $listed == 2 ]] && same d src r6 \
    && pass "refusals before a kill are in the report; the resumed restore exits 3" \
    || fail "refusals across a kill: rc $rc1 then $rc2, $listed listed: $(tail -1 kr2.err)"
  "${tool[@]}" restore --from one --database r7 --container src --failure-report no-such-dir/report.jsonl >ro.out 2>ro.err
  rc=$?
  [[ $rc == 1 ]] && grep -q "cannot write the failure report" ro.err && ! cli dump --db r7 --coll src >/dev/null 2>&1 \
    && pass "an unwritable failure report stops the restore before anything is created" || fail "unwritable report: rc $rc $(tail -1 ro.err)"
  cli mutate --db e --coll other --updates 5 --deletes 0 --inserts 0 --round 1 >/dev/null

  # An account (every container of two databases).
  expect account 0 "a backup" "${tool[@]}" backup --all-databases --out acc --page-size 50
  expect account 2 "a restore given --container" "${tool[@]}" restore --from acc --container x
  cli fail --status 403 --times 1 --afterRequests 2 --pathContains /colls/other/docs >/dev/null
  expect account 1 "a backup with a container refused" "${tool[@]}" backup --all-databases --out acc-f --page-size 50
  cp -r acc acc-bad && add_refused acc/d/src acc-bad/d/src
  expect account 3 "a restore with refused items" "${tool[@]}" restore --from acc-bad --include "d/*" --database-map d=r3
  cli mutate --db d --coll src --updates 20 --deletes 5 --inserts 5 --round 2 >/dev/null
  expect account 4 "a verify of a changed account" "${tool[@]}" verify --from acc
  expect single 4 "a verify of a changed container" "${tool[@]}" verify --from one

  # A chain: an increment on the container backup.
  expect chain 0 "an increment" "${tool[@]}" backup --since one --out inc "${settings[@]}"
  keyBytes=$(stat -c %s inc/keys.jsonl.gz 2>/dev/null)
  grep -q "(key file: $keyBytes bytes)" out.chain.0 && pass "the summary of an increment gives its key file bytes" \
    || fail "key file bytes ($keyBytes): $(tail -1 out.chain.0)"
  expect chain 2 "an increment of an account location given a container" "${tool[@]}" backup --since acc --container src --out inc-x
  cli fail --status 403 --times 1 --afterRequests 1 --pathContains /colls/src >/dev/null
  expect chain 1 "an increment whose reads are refused" "${tool[@]}" backup --since one --out inc-f "${settings[@]}"
  add_refused inc inc-bad
  expect chain 3 "a chain restore with refused items" "${tool[@]}" restore --from inc-bad --database r4 --container src
  cli mutate --db d --coll src --updates 10 --deletes 0 --inserts 0 --round 3 >/dev/null
  expect chain 4 "a verify of a changed chain" "${tool[@]}" verify --from inc

  # Shards of one backup, put together.
  expect shard 0 "shard 0/2" "${tool[@]}" backup --database d --container src --out sh --shard 0/2 "${settings[@]}"
  expect shard 2 "--shards without --shard auto" "${tool[@]}" backup --database d --container src --out sh --shards 2
  expect shard 1 "--finish with a shard missing" "${tool[@]}" backup --finish --out sh
  "${tool[@]}" backup --database d --container src --out sh --shard 1/2 "${settings[@]}" >/dev/null 2>&1
  "${tool[@]}" backup --finish --out sh >/dev/null 2>&1
  add_refused sh sh-bad
  expect shard 3 "a sharded restore with refused items" "${tool[@]}" restore --from sh-bad --database r5 --container src --shard 0/1
  cli mutate --db d --coll src --updates 10 --deletes 0 --inserts 0 --round 4 >/dev/null
  expect shard 4 "a verify of a changed container" "${tool[@]}" verify --from sh

  # Shards of an account backup: finishing with one missing names the finish to run again, as given.
  "${tool[@]}" backup --all-databases --out ash --shard 0/2 --page-size 50 >/dev/null 2>&1
  expect shard 1 "an account --finish with a shard missing" "${tool[@]}" backup --finish --out ash
  [[ $(hint_of err.shard.1) == *", then: ${tool[*]} backup --finish --out ash" ]] && pass "the account finish names itself to run again" \
    || fail "account finish line: $(tail -1 err.shard.1)"

  # The manifests record the tool version, the request units and seconds of the run that made
  # them, and every file with its bytes as stored.
  version=$("${tool[@]}" --version | sed -nE "s/^cosmos-backup ([0-9.]+) .*/\1/p")
  for dir in one inc sh; do
    node -e "const fs = require(\"fs\"), path = require(\"path\"), dir = process.argv[1];
      const m = JSON.parse(fs.readFileSync(path.join(dir, \"manifest.json\")));
      const files = m.files.concat(m.chain && m.chain.keys ? [m.chain.keys] : []);
      const sized = files.every((f) => fs.statSync(path.join(dir, f.name)).size === f.bytes);
      process.exit(m.toolVersion === process.argv[2] && m.requestCharge > 0 && m.seconds > 0 && sized ? 0 : 1)" "$dir" "$version" \
      && pass "the manifest of $dir records the tool version, RU, seconds and file bytes" \
      || fail "manifest figures of $dir: $(node -e "const m = require(\"./$dir/manifest.json\"); console.log(m.toolVersion, m.requestCharge, m.seconds)")"
  done

  for flow in single account chain shard; do echo "statuses seen, $flow:${seen[$flow]:-}"; done
  echo "$passed passed, $failed failed"
  (( failed == 0 ))
'
