#!/usr/bin/env bash
# Failure cases of cosmos-backup against a local test server: a wrong key and a wrong endpoint
# fail fast with a clear message; a server stopped in the middle of a backup makes the tool
# fail and leaves a partial backup that verify rejects; a damaged backup, and a crafted one for
# each rule a backup directory is held to, is refused before anything is written; a restored
# count that differs from the backup fails the restore; an unusable proxy is an error and the
# runtime's records stay off the terminal.
# Prints one line per case and "N passed, N failed".
# Usage: failures.sh BUILD_DIR
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "${1:?usage: failures.sh BUILD_DIR}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export CLOUDSDK_LOG="$work/bridge.log" FAILURES_BUILD="$build" FAILURES_WORK="$work" FAILURES_HERE="$here"

"$here/with-server.sh" bash -c '
  set -uo pipefail
  tool=("$FAILURES_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify)
  passed=0 failed=0
  pass() { echo "PASS $1"; passed=$((passed + 1)); }
  fail() { echo "FAIL $1"; failed=$((failed + 1)); }
  # expect_failure NAME TEXT CMD...: CMD must exit non-zero within 20 s and say TEXT on stderr.
  expect_failure() {
    local name=$1 text=$2; shift 2
    local start=$SECONDS
    if timeout 60 "$@" >"$FAILURES_WORK/out" 2>"$FAILURES_WORK/err"; then fail "$name: exited 0"; return; fi
    if (( SECONDS - start > 20 )); then fail "$name: took $((SECONDS - start)) s"; return; fi
    if ! grep -q -- "$text" "$FAILURES_WORK/err"; then fail "$name: no [$text] in: $(cat "$FAILURES_WORK/err")"; return; fi
    if grep -q -- "$COSMOS_KEY" "$FAILURES_WORK/out" "$FAILURES_WORK/err"; then fail "$name: the key was printed"; return; fi
    pass "$name"
  }

  node "$FAILURES_HERE/seed.js" "$COSMOS_ENDPOINT" shop orders 3000 >/dev/null || { echo "seeding failed"; exit 1; }

  wrong_key=$(head -c 64 /dev/urandom | base64 -w0)
  expect_failure "wrong key fails fast" "401" env COSMOS_KEY="$wrong_key" "${tool[@]}" list-databases
  expect_failure "wrong endpoint fails fast" "cannot connect to https://127.0.0.1:1" "${tool[@]}" --endpoint https://127.0.0.1:1 list-databases
  expect_failure "missing key is named" "set COSMOS_KEY" env -u COSMOS_KEY "${tool[@]}" list-databases
  # The test server'"'"'s certificate is self-signed: without --insecure-skip-tls-verify, one attempt and a sentence.
  expect_failure "untrusted certificate fails at once, in a sentence" "certificate is not trusted (CERTIFICATE_VERIFY_FAILED)" \
    "$FAILURES_BUILD/bin/cosmos-backup" list-databases
  grep -q "gave up after\|handshake_client" "$FAILURES_WORK/err" && fail "certificate failure retried or raw: $(cat "$FAILURES_WORK/err")"
  expect_failure "missing container is named" "does not exist" "${tool[@]}" backup --database shop --container nope --out "$FAILURES_WORK/nope"

  "${tool[@]}" backup --database shop --container orders --out "$FAILURES_WORK/good" >/dev/null 2>&1 || fail "good backup"
  mode=$(stat -c %a "$FAILURES_WORK/good")
  [[ $mode == 700 ]] && pass "backup directory is owner-only" || fail "backup directory mode $mode"

  cp -r "$FAILURES_WORK/good" "$FAILURES_WORK/damaged"
  first_file=$(ls "$FAILURES_WORK/damaged"/items-*.jsonl.gz | head -1)
  printf "\x00" | dd of="$first_file" bs=1 seek=100 conv=notrunc status=none
  expect_failure "damaged backup is refused" "does not match its checksum" "${tool[@]}" restore --from "$FAILURES_WORK/damaged" --database other --container c
  if "${tool[@]}" list-databases 2>/dev/null | grep -qx other; then fail "refused restore wrote nothing"; else pass "refused restore wrote nothing"; fi

  # Crafted backups: each must be refused naming its file, before a database is created.
  "${tool[@]}" backup --database shop --container orders --out "$FAILURES_WORK/two-files" --items-per-file 2000 >/dev/null 2>&1 ||
    fail "backup in two files"
  for rule in parent-name:outside- absolute-name:absolute- symlink:symbolic not-gzip:"not a gzip file" \
              long-line:"longer than 4194304" not-object:"is not a JSON object" file-counts:"the manifest says 2001" \
              huge-manifest:"more than a manifest may have"; do
    name=${rule%%:*} text=${rule#*:}
    node "$FAILURES_HERE/craft-backup.js" "$FAILURES_WORK/two-files" "$FAILURES_WORK/crafted-$name" "$name"
    expect_failure "crafted backup ($name) is refused" "$text" \
      "${tool[@]}" restore --from "$FAILURES_WORK/crafted-$name" --database "crafted-$name" --container c
    if "${tool[@]}" list-databases 2>/dev/null | grep -qx "crafted-$name"; then fail "crafted backup ($name) wrote nothing"; fi
    expect_failure "crafted backup ($name) fails verify" "$text" "${tool[@]}" verify --offline --from "$FAILURES_WORK/crafted-$name"
  done

  expect_failure "an unusable proxy is an error" "cannot use the proxy" "${tool[@]}" --proxy "ftp://proxy.invalid" list-databases
  env -u CLOUDSDK_LOG CLOUDSDK_LOG_LEVEL=2 "${tool[@]}" list-databases >/dev/null 2>"$FAILURES_WORK/quiet.err"
  env -u CLOUDSDK_LOG CLOUDSDK_LOG_LEVEL=2 "${tool[@]}" --verbose list-databases >/dev/null 2>"$FAILURES_WORK/verbose.err"
  if [[ ! -s "$FAILURES_WORK/quiet.err" && -s "$FAILURES_WORK/verbose.err" ]]; then pass "runtime records only with --verbose"
  else fail "runtime records: quiet run said [$(head -c 300 "$FAILURES_WORK/quiet.err")]"; fi

  "${tool[@]}" restore --from "$FAILURES_WORK/good" --database twice --container c >/dev/null 2>&1 || fail "first restore"
  node -e "
    const { makeClient } = require(\"$FAILURES_HERE/cosmos-client\");
    makeClient(process.env.COSMOS_ENDPOINT, process.env.COSMOS_KEY).database(\"twice\").container(\"c\").items
      .create({ id: \"extra\", tenant: \"alpha\" }).catch((e) => { console.error(e.message); process.exit(1); });"
  expect_failure "restored count differing from the backup fails" "holds 3001 items after the restore; the backup has 3000" \
    "${tool[@]}" restore --from "$FAILURES_WORK/good" --database twice --container c --into-existing
  expect_failure "restore into an existing container needs consent" "into-existing" \
    "${tool[@]}" restore --from "$FAILURES_WORK/good" --database twice --container c

  # Small pages make the backup long enough to stop the server in its middle.
  "${tool[@]}" backup --database shop --container orders --out "$FAILURES_WORK/partial" --page-size 20 \
    >"$FAILURES_WORK/partial.out" 2>"$FAILURES_WORK/partial.err" &
  backup_pid=$!
  for _ in $(seq 1 200); do
    grep -q "backup: [1-9]" "$FAILURES_WORK/partial.err" && break
    sleep 0.05
  done
  kill "$COSMOS_SERVER_PID"
  if wait "$backup_pid"; then
    fail "backup with the server stopped exited 0"
  elif grep -q "cannot read the items after" "$FAILURES_WORK/partial.err"; then
    pass "backup with the server stopped fails"
  else
    fail "backup with the server stopped: $(tail -2 "$FAILURES_WORK/partial.err")"
  fi
  expect_failure "verify rejects the partial backup" "the backup is incomplete" "${tool[@]}" verify --offline --from "$FAILURES_WORK/partial"
  echo "$passed passed, $failed failed"
  (( failed == 0 ))
'
