#!/usr/bin/env bash
# Encrypted backups on the scripted server:
#   - a backup with a password (from an owner-only file) keeps no plaintext: no item id, text,
#     partition key value, database or container name in any stored byte or file name, and no
#     file is gzip;
#   - it restores exactly (verify finds 0 problems);
#   - no password, or a wrong one, exits 1 before any request to the database;
#   - an increment of it (--since) works and the chain restores exactly;
#   - an account backup restores, its container locations opaque too, and so does its increment;
#   - a backup in 2 shards run at once into one new location: one key slot, finished, exact;
#   - key add / list / remove / passwd: the added password opens it, a removed one no more, the
#     last slot stays;
#   - the same backup into blob storage (azurite): no plaintext in any blob or blob name, an exact
#     restore.
# Prints one line per case and "N passed, N failed".
# Usage: encryption.sh BUILD_DIR
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "${1:?usage: encryption.sh BUILD_DIR}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export CLOUDSDK_LOG="$work/bridge.log" EN_BUILD="$build" EN_WORK="$work" EN_HERE="$here"
"$here/scripted/with-scripted-server.sh" -- "$here/with-azurite.sh" bash -c '
  set -uo pipefail
  cd "$EN_WORK"
  tool=("$EN_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify)
  passed=0 failed=0
  pass() { echo "PASS $1"; passed=$((passed + 1)); }
  fail() { echo "FAIL $1"; failed=$((failed + 1)); }
  cli() { node "$EN_HERE/scripted/cli.js" "$@"; }
  requests() { cli stats | node -e "let s=\"\";process.stdin.on(\"data\",d=>s+=d).on(\"end\",()=>console.log(JSON.parse(s).requests))"; }
  # plaintext DIR WORD...: the words of WORD... found in DIR (contents or names), or a gzip file.
  plaintext() {
    local dir=$1 word f
    shift
    for word in "$@"; do
      grep -rlaF -- "$word" "$dir" >/dev/null && echo "content holds $word"
      find "$dir" | grep -qF -- "$word" && echo "a name holds $word"
    done
    while IFS= read -r -d "" f; do
      [[ $(head -c 2 "$f" | od -An -tx1 | tr -d " ") == 1f8b ]] && echo "$f is gzip"
    done < <(find "$dir" -type f -print0)
  }
  umask 077
  printf "correct horse battery staple\n" >pw
  printf "a wrong password\n" >wrong
  printf "second password\n" >pw2
  chmod 600 pw wrong pw2

  cli seed --db salesdb --coll orders2026 --count 1500 >/dev/null || { echo "FAIL seeding"; exit 1; }
  words=(salesdb orders2026 item-0000000 item-0000777 item-0001499 pk-0000 pk-0042 "\"seq\"")
  "${tool[@]}" --password-file pw backup --database salesdb --container orders2026 --out full >full.out 2>&1 \
    && pass "encrypted backup" || fail "encrypted backup: $(cat full.out)"
  ls full | grep -q "^key-[0-9a-f]\{8\}\.json$" && pass "it holds a key slot" || fail "no key slot: $(ls full)"
  found=$(plaintext full "${words[@]}")
  [[ -z $found ]] && pass "no id, text, name or gzip in any stored byte" || fail "plaintext: $found"

  COSMOS_BACKUP_PASSWORD_FILE=$PWD/pw "${tool[@]}" verify --from full >verify.out 2>&1 \
    && grep -q ", 0 problems" verify.out && pass "verify: 0 problems" || fail "verify: $(cat verify.out)"
  COSMOS_BACKUP_PASSWORD="correct horse battery staple" "${tool[@]}" restore --from full --database restored >restore.out 2>&1 \
    && cli compare --db salesdb --coll orders2026 --db2 restored >cmp.out && pass "restores exactly" \
    || fail "restore: $(cat restore.out cmp.out)"

  before=$(requests)
  "${tool[@]}" --password-file wrong restore --from full --database other >wrong.out 2>&1
  status=$?
  after=$(requests)
  [[ $status == 1 ]] && grep -q "wrong password" wrong.out && [[ $before == "$after" ]] \
    && pass "a wrong password exits 1 before any request" || fail "wrong password: status $status, requests $before -> $after: $(cat wrong.out)"
  "${tool[@]}" verify --from full >none.out 2>&1
  status=$?
  [[ $status == 1 ]] && grep -q "this backup is encrypted: give --password-file, COSMOS_BACKUP_PASSWORD_FILE or COSMOS_BACKUP_PASSWORD" none.out \
    && [[ $(requests) == "$after" ]] && pass "no password: exit 1, the password sources named" || fail "no password: $status $(cat none.out)"
  chmod 644 pw2
  "${tool[@]}" --password-file pw2 verify --from full >open.out 2>&1 && fail "a password file others may read was taken" \
    || { grep -q "may be read by others" open.out && pass "a password file others may read is refused" || fail "open file: $(cat open.out)"; }
  chmod 600 pw2
  ! grep -rq "correct horse" ./*.out && pass "the password is printed nowhere" || fail "the password was printed"

  cli mutate --db salesdb --coll orders2026 --updates 100 --deletes 40 --inserts 30 >/dev/null
  "${tool[@]}" --password-file pw backup --database salesdb --container orders2026 --since full --out inc >inc.out 2>&1 \
    && grep -q "130 changed items, 40 deleted" inc.out && pass "an increment of the encrypted backup" || fail "increment: $(cat inc.out)"
  found=$(plaintext inc "${words[@]}" "updated in round")
  [[ -z $found ]] && pass "the increment holds no plaintext" || fail "increment plaintext: $found"
  "${tool[@]}" --password-file pw restore --from inc --database chain >cr.out 2>&1 \
    && cli compare --db salesdb --coll orders2026 --db2 chain >ccmp.out && pass "the encrypted chain restores exactly" \
    || fail "chain restore: $(cat cr.out ccmp.out)"

  cli seed --db hrdb --coll payroll --count 200 >/dev/null
  "${tool[@]}" --password-file pw backup --all-databases --include "hrdb/*" --include "salesdb/*" --out acc >acc.out 2>&1 \
    && pass "encrypted account backup" || fail "account backup: $(cat acc.out)"
  found=$(plaintext acc "${words[@]}" hrdb payroll)
  [[ -z $found ]] && pass "the account backup holds no plaintext" || fail "account plaintext: $found"
  "${tool[@]}" --password-file pw restore --from acc --database-map hrdb=hr2 --database-map salesdb=sales2 >ar.out 2>&1 \
    && cli compare --db hrdb --coll payroll --db2 hr2 >acmp.out && cli compare --db salesdb --coll orders2026 --db2 sales2 >>acmp.out \
    && pass "the encrypted account backup restores exactly" || fail "account restore: $(cat ar.out acmp.out)"
  cli mutate --db hrdb --coll payroll --updates 20 --deletes 10 --inserts 5 >/dev/null
  "${tool[@]}" --password-file pw backup --all-databases --include "hrdb/*" --include "salesdb/*" --since acc --out acc2 >acc2.out 2>&1 \
    && "${tool[@]}" --password-file pw restore --from acc2 --database-map hrdb=hr3 --database-map salesdb=sales3 >ar2.out 2>&1 \
    && cli compare --db hrdb --coll payroll --db2 hr3 >acmp2.out && cli compare --db salesdb --coll orders2026 --db2 sales3 >>acmp2.out \
    && [[ -z $(plaintext acc2 "${words[@]}" hrdb payroll) ]] \
    && pass "an encrypted account increment restores exactly" || fail "account increment: $(cat acc2.out ar2.out acmp2.out)"

  pids=()
  for i in 0 1; do "${tool[@]}" --password-file pw backup --database salesdb --container orders2026 --out sharded --shard $i/2 >shard-$i.out 2>&1 & pids+=($!); done
  ok=1
  for pid in "${pids[@]}"; do wait $pid || ok=0; done
  (( ok )) && "${tool[@]}" --password-file pw backup --finish --out sharded >finish.out 2>&1 \
    && [[ $(ls sharded | grep -c "^key-") == 1 ]] \
    && "${tool[@]}" --password-file pw restore --from sharded --database fromshards >sr.out 2>&1 \
    && cli compare --db salesdb --coll orders2026 --db2 fromshards >scmp.out \
    && pass "2 shards at once into a new encrypted location: one key slot, exact restore" \
    || fail "sharded: $(ls sharded; cat shard-*.out finish.out sr.out scmp.out 2>/dev/null)"

  "${tool[@]}" --password-file pw key add --location full --new-password-file pw2 >add.out 2>&1 \
    && [[ $("${tool[@]}" --password-file pw2 key list --location full | grep -c "scrypt N=") == 2 ]] \
    && "${tool[@]}" --password-file pw2 verify --offline --from full >/dev/null 2>&1 \
    && pass "key add: the new password opens the backup" || fail "key add: $(cat add.out)"
  first=$(ls full | sed -n "s/^key-\(00000000\)\.json$/\1/p")
  "${tool[@]}" --password-file pw2 key remove --location full --slot "$first" >rm.out 2>&1 \
    && ! "${tool[@]}" --password-file pw verify --offline --from full >/dev/null 2>&1 \
    && pass "key remove: the removed password opens it no more" || fail "key remove: $(cat rm.out)"
  last=$(ls full | sed -n "s/^key-\([0-9a-f]\{8\}\)\.json$/\1/p")
  ! "${tool[@]}" --password-file pw2 key remove --location full --slot "$last" >last.out 2>&1 \
    && grep -q "is the last" last.out && [[ -e full/key-$last.json ]] \
    && pass "removing the last key slot is refused" || fail "last slot: $(cat last.out)"
  printf "third password\n" >pw3 && chmod 600 pw3
  "${tool[@]}" --password-file pw2 key passwd --location full --new-password-file pw3 >passwd.out 2>&1 \
    && [[ $(ls full | grep -c "^key-") == 1 && ! -e full/key-$last.json ]] \
    && "${tool[@]}" --password-file pw3 verify --offline --from full >/dev/null 2>&1 \
    && ! "${tool[@]}" --password-file pw2 verify --offline --from full >/dev/null 2>&1 \
    && pass "key passwd: the new password opens it, the old one no more" || fail "key passwd: $(cat passwd.out)"

  blob() { node "$EN_HERE/blob.js" "$@"; }
  blob create-container backups >/dev/null
  url="$STORAGE_ENDPOINT/$STORAGE_ACCOUNT/backups/enc"
  "${tool[@]}" --password-file pw backup --database salesdb --container orders2026 --out "$url" >blob.out 2>&1 \
    && mkdir fetched && blob download backups enc fetched && ls fetched | grep -q "^key-[0-9a-f]\{8\}\.json$" \
    && pass "encrypted backup into blob storage" || fail "blob backup: $(cat blob.out)"
  found=$(plaintext fetched "${words[@]}" "updated in round")
  [[ -z $found && $(ls fetched | wc -l) -gt 2 ]] && pass "no plaintext in any blob or blob name" || fail "blob plaintext: $found"
  "${tool[@]}" --password-file pw restore --from "$url" --database fromblob >br.out 2>&1 \
    && cli compare --db salesdb --coll orders2026 --db2 fromblob >bcmp.out && pass "the blob backup restores exactly" \
    || fail "blob restore: $(cat br.out bcmp.out)"

  echo "$passed passed, $failed failed"
  (( failed == 0 ))
'
