#!/usr/bin/env bash
# Whole container definitions and throughput layouts through cosmos-backup: a container with
# every property (hierarchical key, unique keys, conflict resolution, computed properties,
# analytical and default TTL, composite indexes, a policy unknown to the tool) is backed up and
# restored on a serverless server and on a provisioned one, with shared database throughput
# and with the container's own autoscale throughput, and compared whole with the official SDK;
# a backup is restored across the two kinds of account with the throughput options; an
# existing container keyed differently is refused before anything is written.
# Usage: layouts.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "${1:?usage: layouts.sh BUILD_DIR}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export LAYOUTS_BUILD="$build" LAYOUTS_WORK="$work" LAYOUTS_HERE="$here"

# Helpers shared by both servers' runs.
cat >"$work/lib.sh" <<'LIB'
set -euo pipefail
tool=("$LAYOUTS_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify --log "$LAYOUTS_WORK/runtime.log")
defs() { node "$LAYOUTS_HERE/definitions.js" "$1" "$COSMOS_ENDPOINT" "${@:2}"; }
# expect_refusal TEXT CMD...: CMD must fail, saying TEXT.
expect_refusal() {
  local text=$1; shift
  if "$@" >"$LAYOUTS_WORK/out" 2>"$LAYOUTS_WORK/err"; then echo "FAIL: $* succeeded"; exit 1; fi
  grep -q -- "$text" "$LAYOUTS_WORK/err" || { echo "FAIL: no [$text] in: $(cat "$LAYOUTS_WORK/err")"; exit 1; }
  echo "refused as expected: $text"
}
layout_of() { node -e 'const m = require(process.argv[1]); console.log(m.throughput.layout + (m.throughput.serverless ? " serverless" : ""))' "$1/manifest.json"; }
LIB

echo "== serverless account"
"$here/with-server.sh" --serverless bash -c '
  source "$LAYOUTS_WORK/lib.sh"
  defs seed sl full none
  "${tool[@]}" backup --database sl --container full --out "$LAYOUTS_WORK/serverless"
  [[ "$(layout_of "$LAYOUTS_WORK/serverless")" == "none serverless" ]] || { echo "FAIL: serverless not recorded"; exit 1; }
  "${tool[@]}" restore --from "$LAYOUTS_WORK/serverless" --database sl-copy
  defs compare sl full sl-copy full --ignore-throughput
  "${tool[@]}" verify --from "$LAYOUTS_WORK/serverless" --database sl-copy
'

echo "== provisioned account"
"$here/with-server.sh" bash -c '
  source "$LAYOUTS_WORK/lib.sh"
  defs seed shared full shared
  defs seed own full own-autoscale
  "${tool[@]}" backup --database shared --container full --out "$LAYOUTS_WORK/shared"
  "${tool[@]}" backup --database own --container full --out "$LAYOUTS_WORK/own"
  [[ "$(layout_of "$LAYOUTS_WORK/shared")" == database ]] || { echo "FAIL: shared layout not recorded"; exit 1; }
  "${tool[@]}" restore --from "$LAYOUTS_WORK/shared" --database shared-copy
  defs compare shared full shared-copy full
  "${tool[@]}" restore --from "$LAYOUTS_WORK/own" --database own-copy
  defs compare own full own-copy full
  "${tool[@]}" verify --from "$LAYOUTS_WORK/own" --database own-copy

  # The serverless backup into this provisioned account, with its own autoscale throughput.
  "${tool[@]}" restore --from "$LAYOUTS_WORK/serverless" --database own-from-sl --autoscale-max 4000
  defs compare own full own-from-sl full

  # An existing container keyed on another path takes nothing.
  node -e "
    const { makeClient } = require(\"$LAYOUTS_HERE/cosmos-client\");
    (async () => {
      const { database } = await makeClient(process.env.COSMOS_ENDPOINT, process.env.COSMOS_KEY).databases.create({ id: \"keyed\" });
      await database.containers.create({ id: \"full\", partitionKey: { paths: [\"/other\"], kind: \"Hash\", version: 2 } });
    })().catch((e) => { console.error(e.message); process.exit(1); });"
  expect_refusal "is keyed by" "${tool[@]}" restore --from "$LAYOUTS_WORK/shared" --database keyed --into-existing
  [[ "$(defs count keyed full)" == 0 ]] || { echo "FAIL: the refused restore wrote items"; exit 1; }
'

echo "== a provisioned backup into the serverless account"
"$here/with-server.sh" --serverless bash -c '
  source "$LAYOUTS_WORK/lib.sh"
  expect_refusal "restore with --no-throughput" "${tool[@]}" restore --from "$LAYOUTS_WORK/own" --database target
  "${tool[@]}" restore --from "$LAYOUTS_WORK/own" --database target --no-throughput
  "${tool[@]}" verify --from "$LAYOUTS_WORK/own" --database target
'
echo "layouts passed: every definition and layout came back whole"
