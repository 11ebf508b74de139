#!/usr/bin/env bash
# Backups in blob storage, on a local test server and a local storage server (azurite): a
# backup to a blob prefix holds the same files as one to a directory (data files byte for
# byte, the manifest but for its time), restores and verifies like it; a damaged blob, a wrong
# key, a missing container and crafted backups (the untrusted-input rules) are refused with clear
# messages before anything is written; a blob whose bytes went bad behind an intact stored MD5
# is found while the restore reads it (each file is downloaded once): the restore stops and
# resumes once the blob is repaired; a backup killed mid-upload leaves no manifest, is
# refused, and resumes to an exact backup; the storage key is in no output. The local server
# ignores sub-range bounds: the backup says so once and reads the range whole.
# Prints one line per case and "N passed, N failed".
# Usage: blob-roundtrip.sh BUILD_DIR [ITEM_COUNT]
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "${1:?usage: blob-roundtrip.sh BUILD_DIR [ITEM_COUNT]}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export CLOUDSDK_LOG="$work/bridge.log" BLOB_BUILD="$build" BLOB_WORK="$work" BLOB_HERE="$here" BLOB_ITEMS="${2:-3000}"

"$here/with-server.sh" "$here/with-azurite.sh" bash -c '
  set -uo pipefail
  tool=("$BLOB_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify)
  blob() { node "$BLOB_HERE/blob.js" "$@"; }
  base="$STORAGE_ENDPOINT/$STORAGE_ACCOUNT/backups"
  passed=0 failed=0
  pass() { echo "PASS $1"; passed=$((passed + 1)); }
  fail() { echo "FAIL $1"; failed=$((failed + 1)); }
  # run NAME CMD...: CMD must succeed; its output is kept for the key check.
  run() {
    local name=$1; shift
    if "$@" >>"$BLOB_WORK/all.out" 2>>"$BLOB_WORK/all.err"; then pass "$name"; else fail "$name: $(tail -2 "$BLOB_WORK/all.err")"; fi
  }
  # expect_failure NAME TEXT CMD...: CMD must exit non-zero and say TEXT on stderr.
  expect_failure() {
    local name=$1 text=$2; shift 2
    if "$@" >"$BLOB_WORK/out" 2>"$BLOB_WORK/err"; then fail "$name: exited 0"; return; fi
    cat "$BLOB_WORK/out" >>"$BLOB_WORK/all.out"; cat "$BLOB_WORK/err" >>"$BLOB_WORK/all.err"
    if grep -q -- "$text" "$BLOB_WORK/err"; then pass "$name"; else fail "$name: no [$text] in: $(cat "$BLOB_WORK/err")"; fi
  }
  no_database() { ! "${tool[@]}" list-databases 2>/dev/null | grep -qx "$1"; }

  node "$BLOB_HERE/seed.js" "$COSMOS_ENDPOINT" shop orders "$BLOB_ITEMS" >/dev/null || { echo "seeding failed"; exit 1; }
  blob create-container backups || { echo "cannot create the container"; exit 1; }

  # Several data files, so that more than one file goes up and comes down.
  run "backup to a directory" "${tool[@]}" backup --database shop --container orders --out "$BLOB_WORK/local" --items-per-file 1000
  [[ $(grep -c "reading whole ranges" "$BLOB_WORK/all.err") == 1 ]] && pass "a server ignoring sub-range bounds is noticed once" \
    || fail "sub-range bounds ignored: $(grep -c "reading whole ranges" "$BLOB_WORK/all.err") notes"
  run "backup to blob storage" "${tool[@]}" backup --database shop --container orders --out "$base/shop/orders" --items-per-file 1000
  mkdir "$BLOB_WORK/fetched" && blob download backups shop/orders "$BLOB_WORK/fetched"
  same=1
  for f in "$BLOB_WORK"/local/items-*.jsonl.gz "$BLOB_WORK"/local/keys.jsonl.gz; do cmp -s "$f" "$BLOB_WORK/fetched/$(basename "$f")" || same=0; done
  [[ $(ls "$BLOB_WORK/local" | wc -l) == $(ls "$BLOB_WORK/fetched" | wc -l) ]] || same=0
  # Times differ: when each backup was made and when it recorded the change feed positions, and
  # what each run took.
  strip() { sed -e "/\"createdAt\"/d" -e "/\"at\":/d" -e "/\"seconds\":/d" -e "/\"requestCharge\":/d" "$1"; }
  [[ "$(strip "$BLOB_WORK/local/manifest.json")" == "$(strip "$BLOB_WORK/fetched/manifest.json")" ]] || same=0
  (( same )) && pass "blob backup holds the same files as the directory backup" || fail "blob and directory backups differ"

  run "restore from blob storage" "${tool[@]}" restore --from "$base/shop/orders" --database shop-restored --container orders
  run "verify the blob backup against the copy" "${tool[@]}" verify --from "$base/shop/orders" --database shop-restored --container orders
  run "the copy equals the source" node "$BLOB_HERE/compare.js" "$COSMOS_ENDPOINT" shop orders shop-restored orders

  expect_failure "a backup never goes into a used prefix" "is not empty" \
    "${tool[@]}" backup --database shop --container orders --out "$base/shop/orders"
  run "copy the backup for damaging" "${tool[@]}" backup --database shop --container orders --out "$base/damaged"
  blob flip-byte backups "damaged/$(cd "$BLOB_WORK/local" && ls items-*.jsonl.gz | head -1)"
  expect_failure "a damaged blob is refused" "does not match its checksum" \
    "${tool[@]}" restore --from "$base/damaged" --database damaged --container c
  no_database damaged && pass "the refused restore wrote nothing" || fail "the refused restore wrote something"

  # Bytes that went bad behind the stored MD5 pass the checks that cost no download; the single
  # read finds them, stops, and the restore resumes once the blob is repaired.
  run "copy the backup for rotting" "${tool[@]}" backup --database shop --container orders --out "$base/rotten" --items-per-file 1000
  mkdir "$BLOB_WORK/rotten" && blob download backups rotten "$BLOB_WORK/rotten"
  rotten=$(cd "$BLOB_WORK/rotten" && ls items-*.jsonl.gz | sed -n 2p)
  blob rot-byte backups "rotten/$rotten"
  expect_failure "a blob gone bad is found during the single read and stops the restore" "continue with" \
    "${tool[@]}" restore --from "$base/rotten" --database rotten --container c
  # The repair puts back that one blob (the location also holds the lock blobs of runs, which a
  # run may still lease for a moment after it ended).
  mkdir "$BLOB_WORK/repair" && cp "$BLOB_WORK/rotten/$rotten" "$BLOB_WORK/repair/"
  blob upload "$BLOB_WORK/repair" backups rotten
  run "the restore resumes once the blob is repaired" "${tool[@]}" restore --from "$base/rotten" --database rotten --container c --resume
  run "the resumed restore equals the backup" "${tool[@]}" verify --from "$base/rotten" --database rotten --container c

  # The rules for untrusted backups hold for blobs too: crafted copies of a good backup. Files
  # changed behind their manifest are refused by the stored MD5 before anything is written;
  # counts moved between files are found while the files are read.
  for rule in not-gzip:"does not match its checksum" long-line:"does not match its checksum" file-counts:"the manifest says"; do
    name=${rule%%:*} text=${rule#*:}
    node "$BLOB_HERE/craft-backup.js" "$BLOB_WORK/local" "$BLOB_WORK/crafted-$name" "$name" &&
      blob upload "$BLOB_WORK/crafted-$name" backups "crafted-$name"
    expect_failure "crafted blob backup ($name) is refused" "$text" \
      "${tool[@]}" restore --from "$base/crafted-$name" --database "crafted-$name" --container c
    [[ $name == file-counts ]] || no_database "crafted-$name" || fail "crafted blob backup ($name) wrote something"
  done

  expect_failure "a wrong storage key is refused clearly" "refused the credentials" \
    env AZURE_STORAGE_KEY="$(head -c 32 /dev/urandom | base64 -w0)" "${tool[@]}" verify --offline --from "$base/shop/orders"
  expect_failure "a missing container is named" "container nothere does not exist" \
    "${tool[@]}" backup --database shop --container orders --out "$STORAGE_ENDPOINT/$STORAGE_ACCOUNT/nothere/x"
  expect_failure "no storage credentials is named" "set AZURE_STORAGE_KEY" \
    env -u AZURE_STORAGE_KEY "${tool[@]}" verify --offline --from "$base/shop/orders"

  # Small pages and files make the backup long enough to kill it in its middle.
  "${tool[@]}" backup --database shop --container orders --out "$base/killed" --page-size 20 --items-per-file 200 \
    >"$BLOB_WORK/killed.out" 2>"$BLOB_WORK/killed.err" &
  backup_pid=$!
  for _ in $(seq 1 200); do grep -q "backup: [1-9]" "$BLOB_WORK/killed.err" && break; sleep 0.05; done
  kill -9 "$backup_pid"; wait "$backup_pid" 2>/dev/null
  expect_failure "a backup killed mid-upload is refused" "the backup is incomplete" \
    "${tool[@]}" verify --offline --from "$base/killed"
  run "the killed backup resumes" "${tool[@]}" backup --database shop --container orders --out "$base/killed" --resume \
    --page-size 20 --items-per-file 200
  run "the resumed backup equals the container" "${tool[@]}" verify --from "$base/killed"

  if grep -qF -- "$AZURE_STORAGE_KEY" "$BLOB_WORK"/*.out "$BLOB_WORK"/*.err "$CLOUDSDK_LOG" 2>/dev/null; then
    fail "the storage key was printed"
  else
    pass "the storage key is in no output"
  fi
  echo "$passed passed, $failed failed"
  (( failed == 0 ))
'
