#!/usr/bin/env bash
# What encryption costs, on the scripted test server, in one run: a container of ITEMS items in
# RANGES ranges is backed up into a plain and into an encrypted location, and each is restored
# into a new container, ROUNDS times alternately (so that the shared machine's load falls on both
# alike); the fastest of each is kept. Then the key derivation alone: a command refused for a
# wrong password (one scrypt) against the same command refused for want of a password (none).
# Usage: bench/backup/encryption.sh BUILD_DIR [ITEMS=100000] [RANGES=4] [ROUNDS=2]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
e2e="$here/../../tests/e2e"
build="$(cd "${1:?usage: encryption.sh BUILD_DIR [ITEMS] [RANGES] [ROUNDS]}" && pwd)"
export BENCH_BUILD="$build" BENCH_ITEMS="${2:-100000}" BENCH_RANGES="${3:-4}" BENCH_ROUNDS="${4:-2}"
export BENCH_E2E="$e2e" BENCH_WORK="$(mktemp -d)" CLOUDSDK_LOG_LEVEL=0
trap 'rm -rf "$BENCH_WORK"' EXIT

"$e2e/scripted/with-scripted-server.sh" --ranges "$BENCH_RANGES" -- bash -c '
  set -euo pipefail
  cd "$BENCH_WORK"
  umask 077
  echo "bench password" >pw
  echo "not the password" >wrong
  tool=("$BENCH_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify --quiet)
  ctl() { node -e "require(process.argv[1]).control(process.env.COSMOS_ENDPOINT, process.argv[2], process.argv[3] && JSON.parse(process.argv[3])).then((r) => console.log(JSON.stringify(r)))" "$BENCH_E2E/scripted/client.js" "$@"; }
  now() { date +%s.%N; }
  # seconds CMD...: the seconds CMD took (its output in the work directory).
  seconds() {
    local start status=0
    start=$(now)
    "$@" >>run.out 2>&1 || status=$?
    awk -v a="$start" -v b="$(now)" "BEGIN { printf \"%.2f\", b - a }"
    return $status
  }
  min() { awk -v a="$1" -v b="$2" "BEGIN { print (a == \"\" || b < a) ? b : a }"; }
  ctl seed "{\"db\":\"bench\",\"coll\":\"items\",\"count\":$BENCH_ITEMS}" >/dev/null
  src=(--database bench --container items --parallel 4)
  pb="" eb="" pr="" er=""
  for ((round = 0; round < BENCH_ROUNDS; round++)); do
    rm -rf plain enc
    pb=$(min "$pb" "$(seconds "${tool[@]}" backup "${src[@]}" --out plain)")
    eb=$(min "$eb" "$(seconds "${tool[@]}" --password-file pw backup "${src[@]}" --out enc)")
    pr=$(min "$pr" "$(seconds "${tool[@]}" restore --from plain --database "plain$round" --parallel 16)")
    er=$(min "$er" "$(seconds "${tool[@]}" --password-file pw restore --from enc --database "enc$round" --parallel 16)")
  done
  kdf="" none=""
  for ((i = 0; i < 3; i++)); do
    kdf=$(min "$kdf" "$(seconds "${tool[@]}" --password-file wrong verify --offline --from enc || true)")
    none=$(min "$none" "$(seconds "${tool[@]}" verify --offline --from enc || true)")
  done
  echo "items: $BENCH_ITEMS in $BENCH_RANGES ranges, fastest of $BENCH_ROUNDS rounds; stored: plain $(du -sk plain | cut -f1) KiB, encrypted $(du -sk enc | cut -f1) KiB"
  printf "%-10s %10s %10s %18s\n" "" plain encrypted "plain / encrypted"
  awk -v a="$pb" -v b="$eb" "BEGIN { printf \"%-10s %9.2fs %9.2fs %18.3f\n\", \"backup\", a, b, a / b }"
  awk -v a="$pr" -v b="$er" "BEGIN { printf \"%-10s %9.2fs %9.2fs %18.3f\n\", \"restore\", a, b, a / b }"
  awk -v k="$kdf" -v n="$none" "BEGIN { printf \"key derivation (scrypt at the parameters of new slots), once per command: %.2f s\n\", k - n }"
  # The data path alone: the encrypted command less its one key derivation.
  awk -v a="$pb" -v b="$eb" -v k="$kdf" -v n="$none" "BEGIN { printf \"%-10s %18.3f  (plain / encrypted less the key derivation)\n\", \"backup\", a / (b - (k - n)) }"
  awk -v a="$pr" -v b="$er" -v k="$kdf" -v n="$none" "BEGIN { printf \"%-10s %18.3f  (plain / encrypted less the key derivation)\n\", \"restore\", a / (b - (k - n)) }"
'
