#!/usr/bin/env bash
# Backup chains on the scripted server (four ranges):
#   - a full backup, inserts, updates and deletions, a split, an increment; a second round of
#     changes, a merge and a second increment; the chain restored into a new database equals the source
#     exactly, each item written once, and verify --from the last increment finds the source equal to the chain;
#   - an increment reads exactly the changed items;
#   - an incremental backup killed part-way and resumed gives the same chain result, and so
#     does a chain restore killed part-way and resumed;
#   - a damaged or missing link is refused, naming it, before anything is written;
#   - a chain in blob storage (azurite): an increment --since a blob prefix, its chain restored;
#     an increment into a directory --since a blob prefix refused before anything is written.
# Prints one line per case and "N passed, N failed".
# Usage: chains.sh BUILD_DIR
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "${1:?usage: chains.sh BUILD_DIR}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export CLOUDSDK_LOG="$work/bridge.log" CHAIN_BUILD="$build" CHAIN_WORK="$work" CHAIN_HERE="$here"

"$here/scripted/with-scripted-server.sh" --ranges 4 -- "$here/with-azurite.sh" bash -c '
  set -uo pipefail
  cd "$CHAIN_WORK"
  tool=("$CHAIN_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify)
  passed=0 failed=0
  pass() { echo "PASS $1"; passed=$((passed + 1)); }
  fail() { echo "FAIL $1"; failed=$((failed + 1)); }
  cli() { node "$CHAIN_HERE/scripted/cli.js" "$@"; }
  # same NAME DB: the restored database DB equals the source container d/src.
  same() {
    local out
    out=$(cli compare --db d --coll src --db2 "$2" 2>&1) && pass "$1 ($out)" || fail "$1: $out"
  }

  cli seed --db d --coll src --count 1500 >/dev/null || { echo "seeding failed"; exit 1; }
  "${tool[@]}" backup --database d --container src --out full >full.out 2>full.err || fail "full backup: $(tail -1 full.err)"
  cli mutate --db d --coll src --updates 60 --deletes 25 --inserts 40 --round 1 >/dev/null
  cli split --db d --coll src --range 1 >/dev/null || fail "splitting range 1"
  if "${tool[@]}" backup --database d --container src --out inc1 --since full --parallel 2 >inc1.out 2>inc1.err; then
    grep -q "100 changed items, 25 deleted, 1515 items in all" inc1.out && pass "increment across a split reads the 100 changed items and finds the 25 deletions" \
      || fail "first increment: $(tail -1 inc1.out)"
  else
    fail "first increment: $(tail -2 inc1.err)"
  fi
  cli mutate --db d --coll src --updates 30 --deletes 10 --inserts 20 --round 2 >/dev/null
  cli merge --db d --coll src --range 2 >/dev/null || fail "merging range 2"
  "${tool[@]}" backup --database d --container src --out inc2 --since inc1 --page-size 7 --items-per-file 10 >inc2.out 2>inc2.err \
    || fail "second increment: $(tail -2 inc2.err)"
  grep -q "50 changed items, 10 deleted, 1525 items in all" inc2.out && pass "second increment across a merge: 50 changed, 10 deleted" || fail "second increment: $(tail -1 inc2.out)"
  if "${tool[@]}" restore --from inc2 --database r1 --container src >restore.out 2>restore.err; then
    grep -q ": 1525 items written, 1525 counted" restore.out && grep -q "chain: 3 backups restored, 0 deletions applied" restore.out \
      && pass "chain of three restored as its state: each of its 1525 items written once, no deletion sent" || fail "chain restore: $(cat restore.out)"
    same "restored chain equals the source" r1
    "${tool[@]}" restore --from inc2 --database r1 --container src --resume >again.out 2>again.err \
      && grep -q ": 0 items written, 1525 counted" again.out && pass "a finished chain restore resumed writes nothing more" \
      || fail "resuming a finished chain restore: $(tail -1 again.out) $(tail -1 again.err)"
  else
    fail "chain restore: $(tail -2 restore.err)"
  fi
  out=$("${tool[@]}" verify --from inc2 --database d --container src 2>verify.err | head -1)
  [[ $out == "verify: 1525 items in the backup, 1525 in the container, 1525 equal, 0 problems" ]] && pass "verify of the chain against the source" \
    || fail "verify of the chain: $out $(head -2 verify.err)"

  # An increment killed after some of its changes were read, then resumed.
  cli mutate --db d --coll src --updates 400 --deletes 5 --inserts 5 --round 3 >/dev/null
  "${tool[@]}" backup --database d --container src --out inc3 --since inc2 --page-size 10 --items-per-file 20 --parallel 1 >killed.out 2>killed.err &
  pid=$!
  cli kill --pid $pid --items 150 --count read >/dev/null
  if wait $pid; then fail "the increment was not killed"
  else
    if "${tool[@]}" backup --database d --container src --out inc3 --since inc2 --resume >inc3.out 2>inc3.err &&
       "${tool[@]}" restore --from inc3 --database r2 --container src >r2.out 2>r2.err; then
      same "increment killed and resumed restores the source" r2
      # A chain restore killed part-way goes on from there with --resume.
      "${tool[@]}" restore --from inc3 --database r5 --container src --parallel 2 >killed-restore.out 2>&1 &
      pid=$!
      cli kill --pid $pid --items 800 --count written >/dev/null
      if wait $pid; then fail "the chain restore was not killed"
      elif "${tool[@]}" restore --from inc3 --database r5 --container src --resume >r5.out 2>r5.err; then
        same "chain restore killed part-way and resumed equals the source" r5
      else fail "resumed chain restore: $(tail -1 r5.err)"; fi
    else
      fail "resumed increment: $(tail -2 inc3.err r2.err 2>/dev/null)"
    fi
  fi

  # Damaged and missing links: refused before the target database is even created.
  mkdir -p damaged missing && cp -r full inc1 inc2 damaged/ && cp -r inc1 inc2 missing/
  chmod u+w damaged/inc1/manifest.json && sed -i "s/\"itemCount\": 100/\"itemCount\": 101/" damaged/inc1/manifest.json
  if "${tool[@]}" restore --from damaged/inc2 --database r3 --container src >damaged.out 2>damaged.err; then fail "a damaged link was restored"
  elif grep -q "chain link damaged/inc1 .*SHA-256" damaged.err && ! cli dump --db r3 --coll src >/dev/null 2>&1; then pass "a damaged link is named and nothing is written"
  else fail "damaged link: $(tail -1 damaged.err)"; fi
  if "${tool[@]}" restore --from missing/inc2 --database r4 --container src >missing.out 2>missing.err; then fail "a chain without its base was restored"
  elif grep -q "chain link missing/full .* is missing" missing.err; then pass "a missing base is named"
  else fail "missing link: $(tail -1 missing.err)"; fi

  # A chain in blob storage: the parent is found relative to the increment within the container.
  blobs="$STORAGE_ENDPOINT/$STORAGE_ACCOUNT/backups/src"
  node "$CHAIN_HERE/blob.js" create-container backups || fail "creating the blob container"
  "${tool[@]}" backup --database d --container src --out "$blobs/full" >bfull.out 2>bfull.err || fail "full backup to blob storage: $(tail -1 bfull.err)"
  cli mutate --db d --coll src --updates 20 --deletes 5 --inserts 10 --round 4 >/dev/null
  "${tool[@]}" backup --database d --container src --out "$blobs/inc" --since "$blobs/full" >binc.out 2>binc.err \
    || fail "increment in blob storage: $(tail -2 binc.err)"
  grep -q "30 changed items, 5 deleted" binc.out && pass "increment --since a blob prefix: 30 changed, 5 deleted" || fail "blob increment: $(tail -1 binc.out)"
  if "${tool[@]}" restore --from "$blobs/inc" --database rblob --container src >rblob.out 2>rblob.err; then
    grep -q "chain: 2 backups restored, 0 deletions applied" rblob.out && same "chain restored from blob storage equals the source" rblob \
      || fail "blob chain restore: $(cat rblob.out)"
  else
    fail "blob chain restore: $(tail -2 rblob.err)"
  fi
  if "${tool[@]}" backup --database d --container src --out mixed --since "$blobs/inc" >mixed.out 2>mixed.err; then fail "a chain across two kinds of storage was made"
  elif grep -q "must both be directories or both be blob storage" mixed.err && [[ ! -e mixed ]]; then pass "a chain across two kinds of storage is refused before anything is written"
  else fail "mixed chain: $(tail -1 mixed.err)"; fi
  echo "$passed passed, $failed failed"
  (( failed == 0 ))
'
