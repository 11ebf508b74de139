#!/usr/bin/env bash
# Blob storage under faults and races, through a fault proxy (fault-proxy.js) in front of the
# local storage server: a Put Block refused in the middle of a file ends the backup with an
# error and the resume command, and the resumed backup is exact; a data file replaced between
# a restore's check and its (single) read is refused; of two backups started at once into one prefix
# one is refused and the other is exact; a clock 403 and an expired SAS token say so; a
# ServerBusy spell longer than 6 s is waited out; a SAS token with a trailing newline works; a
# container with an immutability policy is refused at the start; the tool leaves no core file.
# Prints one line per case and "N passed, N failed".
# Usage: blob-faults.sh BUILD_DIR
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "${1:?usage: blob-faults.sh BUILD_DIR}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export CLOUDSDK_LOG="$work/bridge.log" FAULT_BUILD="$build" FAULT_WORK="$work" FAULT_HERE="$here"

"$here/with-server.sh" "$here/with-azurite.sh" bash -c '
  set -uo pipefail
  source "$FAULT_HERE/background-server.sh"
  start_background_server "fault proxy" "s/^listening \([0-9]*\)$/\1/p" node "$FAULT_HERE/fault-proxy.js" "$STORAGE_ENDPOINT"
  proxy="http://127.0.0.1:$port"
  tool=("$FAULT_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify)
  blob() { node "$FAULT_HERE/blob.js" "$@"; }
  rules() { curl -sf -X POST --data "$1" "$proxy/_fault/rules" >/dev/null || echo "cannot set the rules"; }
  base="$proxy/$STORAGE_ACCOUNT/backups"
  out="$FAULT_WORK/out" err="$FAULT_WORK/err"
  passed=0 failed=0
  pass() { echo "PASS $1"; passed=$((passed + 1)); }
  fail() { echo "FAIL $1"; failed=$((failed + 1)); }
  run() {
    local name=$1; shift
    if "$@" >"$out" 2>"$err"; then pass "$name"; else fail "$name: $(tail -2 "$err")"; fi
  }
  # expect_failure NAME TEXT CMD...: CMD must exit 1 (an error, not a crash) and say TEXT.
  expect_failure() {
    local name=$1 text=$2 status; shift 2
    "$@" >"$out" 2>"$err"; status=$?
    if (( status != 1 )); then fail "$name: exit status $status: $(tail -3 "$err")"; return; fi
    if grep -q -- "$text" "$err"; then pass "$name"; else fail "$name: no [$text] in: $(cat "$err")"; fi
  }

  node "$FAULT_HERE/seed.js" "$COSMOS_ENDPOINT" shop orders 400 >/dev/null || { echo "seeding failed"; exit 1; }
  # Items of random text, so that a data file takes several 4 MiB blocks.
  node -e "
    const { makeClient } = require(\"$FAULT_HERE/cosmos-client\");
    (async () => {
      const { database } = await makeClient(process.env.COSMOS_ENDPOINT, process.env.COSMOS_KEY).databases.createIfNotExists({ id: \"shop\" });
      const { container } = await database.containers.createIfNotExists({ id: \"big\", partitionKey: { paths: [\"/tenant\"] } });
      for (let i = 0; i < 8; i += 1) {
        await container.items.create({ id: \"big-\" + i, tenant: \"t\" + (i % 3), text: require(\"crypto\").randomBytes(1100000).toString(\"base64\") });
      }
    })().catch((e) => { console.error(e.message); process.exit(1); });" || { echo "seeding failed"; exit 1; }
  blob create-container backups || { echo "cannot create the container"; exit 1; }

  # 1. The second Put Block of the data file is refused: an error with the resume command.
  rules "[{\"method\":\"PUT\",\"query\":{\"comp\":\"block\"},\"skip\":1,\"times\":1,\"action\":\"fail\",\"status\":403,\"code\":\"AuthorizationPermissionMismatch\"}]"
  expect_failure "a refused Put Block ends the backup with an error" "cannot upload items-" \
    "${tool[@]}" backup --database shop --container big --out "$base/blocks"
  grep -q "lack a permission" "$err" && pass "the error names the cause" || fail "no cause in: $(cat "$err")"
  resume="$(tail -1 "$err" | sed -nE "s/.*to continue( it)?, run: //p")"
  [[ $resume == *" backup --out "*" --resume" ]] && pass "the error gives the resume command" || fail "no resume command in: $(cat "$err")"
  rules "[]"
  run "the resume command finishes the backup" bash -c "$resume"
  run "the resumed backup equals the container" "${tool[@]}" verify --from "$base/blocks"

  # 2. A ServerBusy spell of 7 s (more than the old retry budget of 6 s) is waited out.
  rules "[{\"path\":\"/backups\",\"forMs\":7000,\"action\":\"fail\",\"status\":503,\"code\":\"ServerBusy\"}]"
  start=$SECONDS
  run "a backup outlasts a ServerBusy spell of 7 s" "${tool[@]}" backup --database shop --container orders --out "$base/busy" --max-retry-wait 30
  (( SECONDS - start >= 7 )) && pass "the spell was waited out" || fail "the backup ended before the spell did"
  rules "[]"
  run "the backup through the spell equals the container" "${tool[@]}" verify --from "$base/busy"

  # 3. Two backups at once into one new prefix: the proxy holds the claim of the first until the
  # claim of the second comes, so both found the prefix empty, and only one may write there.
  rules "[{\"method\":\"PUT\",\"path\":\"/twice/checkpoint.json$\",\"times\":2,\"action\":\"barrier\",\"parties\":2}]"
  for n in 1 2; do
    "${tool[@]}" backup --database shop --container orders --out "$base/twice" >"$FAULT_WORK/twice$n.out" 2>"$FAULT_WORK/twice$n.err" &
    eval "pid$n=$!"
  done
  wait "$pid1"; status1=$?; wait "$pid2"; status2=$?
  rules "[]"
  if (( status1 + status2 == 1 )); then pass "one of two backups into one prefix is refused"; else
    fail "two backups into one prefix: exit statuses $status1 and $status2: $(cat "$FAULT_WORK"/twice*.err)"; fi
  grep -hqE "another backup|another run holds this backup \(host " "$FAULT_WORK"/twice*.err && pass "the refusal says why" || fail "no reason in: $(cat "$FAULT_WORK"/twice*.err)"
  run "the other backup equals the container" "${tool[@]}" verify --from "$base/twice"

  # 4. A data file replaced (valid gzip, same line count, one item altered) between the check
  # of a restore (the blob list: sizes and stored MD5s) and its single read: the proxy holds
  # the first look of that read at the file meanwhile; the read finds bytes other than the manifest ones.
  run "a backup to restore" "${tool[@]}" backup --database shop --container orders --out "$base/swap" --page-size 50 --items-per-file 100
  target="items-r0000-00001.jsonl.gz"
  mkdir -p "$FAULT_WORK/fetched" "$FAULT_WORK/altered" && blob download backups swap "$FAULT_WORK/fetched"
  zcat "$FAULT_WORK/fetched/$target" | sed "1s/\"seq\":\([0-9]*\)/\"seq\":-\1/" | gzip >"$FAULT_WORK/altered/$target"
  rules "[{\"method\":\"HEAD\",\"path\":\"/swap/$target\$\",\"skip\":0,\"times\":1,\"action\":\"hold\"}]"
  "${tool[@]}" restore --from "$base/swap" --database swapped --container orders >"$out" 2>"$err" &
  restore_pid=$!
  for _ in $(seq 1 300); do
    curl -sf "$proxy/_fault/state" | grep -q "\"held\":1" && break
    kill -0 "$restore_pid" 2>/dev/null || break
    sleep 0.1
  done
  core_limit="$(awk "/^Max core file size/ {print \$5}" "/proc/$restore_pid/limits" 2>/dev/null)"
  blob upload "$FAULT_WORK/altered" backups swap
  curl -sf -X POST "$proxy/_fault/release" >/dev/null
  wait "$restore_pid"; status=$?
  rules "[]"
  if (( status == 1 )) && grep -Eq "was replaced|does not match its checksum" "$err"; then pass "a file replaced between check and write is refused"; else
    fail "the replaced file: exit status $status: $(tail -3 "$err")"; fi
  [[ "$core_limit" == 0 ]] && pass "the tool runs without core dumps" || fail "core file size limit: [$core_limit]"

  # 5. Clear messages for a clock far off and for an expired SAS token.
  rules "[{\"action\":\"clock\",\"offsetMs\":3600000}]"
  expect_failure "a clock an hour off is named" "clock is off" "${tool[@]}" verify --offline --from "$base/busy"
  rules "[]"
  expect_failure "an expired SAS token is named" "SAS token expired at 2001-01-01" \
    env -u AZURE_STORAGE_KEY AZURE_STORAGE_SAS_TOKEN="$(blob sas 2001-01-01T00:00:00Z)" "${tool[@]}" verify --offline --from "$base/busy"
  token="$(blob sas 2099-01-01T00:00:00Z; echo x)"  # the x keeps the newline
  run "a SAS token with a trailing newline works" \
    env -u AZURE_STORAGE_KEY AZURE_STORAGE_SAS_TOKEN="${token%x}" "${tool[@]}" verify --offline --from "$base/busy"

  # 6. A container with an immutability (WORM) policy is refused before anything is written.
  rules "[{\"method\":\"HEAD\",\"query\":{\"restype\":\"container\"},\"action\":\"forward\",\"headers\":{\"x-ms-has-immutability-policy\":\"true\"}}]"
  expect_failure "an immutable container is refused at the start" "immutability (WORM) policy" \
    "${tool[@]}" backup --database shop --container orders --out "$base/worm"
  rules "[]"

  if grep -qF -- "$AZURE_STORAGE_KEY" "$FAULT_WORK"/*.err "$FAULT_WORK"/*.out "$CLOUDSDK_LOG" 2>/dev/null; then
    fail "the storage key was printed"
  fi
  echo "$passed passed, $failed failed"
  (( failed == 0 ))
'
