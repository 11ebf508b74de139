#!/usr/bin/env bash
# A whole account backed up and restored in one command each, on the local test server (the
# README's main job): three databases seeded with the official SDK, one of them with throughput
# shared by its containers; `backup --all-databases`, `restore` under a database map, `verify`
# per container, and every container compared with its source by the official SDK, the shared
# database's offer included. Exits non-zero on any difference.
# Usage: account-roundtrip.sh BUILD_DIR [ITEM_COUNT]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "${1:?usage: account-roundtrip.sh BUILD_DIR [ITEM_COUNT]}" && pwd)"
[[ -x "$build/bin/cosmos-backup" ]] || { echo "no $build/bin/cosmos-backup: build first" >&2; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export CLOUDSDK_LOG="$work/bridge.log" ACCOUNT_BUILD="$build" ACCOUNT_ITEMS="${2:-2000}" ACCOUNT_WORK="$work" ACCOUNT_HERE="$here"

"$here/with-server.sh" bash -c '
  set -euo pipefail
  tool=("$ACCOUNT_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify)
  echo "== seeding three databases with the official SDK (catalog with shared throughput)"
  node "$ACCOUNT_HERE/seed.js" "$COSMOS_ENDPOINT" shop orders "$ACCOUNT_ITEMS"
  node "$ACCOUNT_HERE/seed.js" "$COSMOS_ENDPOINT" shop customers $((ACCOUNT_ITEMS / 4))
  SEED_SHARED_THROUGHPUT=1000 node "$ACCOUNT_HERE/seed.js" "$COSMOS_ENDPOINT" catalog products $((ACCOUNT_ITEMS / 2))
  SEED_SHARED_THROUGHPUT=1000 node "$ACCOUNT_HERE/seed.js" "$COSMOS_ENDPOINT" catalog prices $((ACCOUNT_ITEMS / 4))
  node "$ACCOUNT_HERE/seed.js" "$COSMOS_ENDPOINT" crm people $((ACCOUNT_ITEMS / 2))
  map=(--database-map shop=shop-restored --database-map catalog=catalog-restored --database-map crm=crm-restored)
  echo "== backup of the whole account"
  "${tool[@]}" backup --all-databases --out "$ACCOUNT_WORK/account"
  echo "== restore of the whole account into other databases"
  "${tool[@]}" restore --from "$ACCOUNT_WORK/account" "${map[@]}"
  echo "== verify every container against its copy"
  "${tool[@]}" verify --from "$ACCOUNT_WORK/account" "${map[@]}"
  echo "== compare every container with the official SDK"
  for pair in shop/orders shop/customers catalog/products catalog/prices crm/people; do
    node "$ACCOUNT_HERE/compare.js" "$COSMOS_ENDPOINT" "${pair%/*}" "${pair#*/}" "${pair%/*}-restored" "${pair#*/}"
  done
  node -e "const { makeClient } = require(process.argv[1]);
    const client = makeClient(process.env.COSMOS_ENDPOINT, process.env.COSMOS_KEY);
    (async () => {
      const [a, b] = await Promise.all([\"catalog\", \"catalog-restored\"].map(async (id) => (await client.database(id).readOffer()).resource));
      const ru = (o) => o && o.content.offerThroughput;
      if (!a || ru(a) !== ru(b)) throw new Error(\"shared throughput differs: \" + ru(a) + \" vs \" + ru(b));
      console.log(\"shared database throughput: \" + ru(a) + \" RU/s on both\");
    })().catch((e) => { console.error(e.message); process.exit(1); })" "$ACCOUNT_HERE/cosmos-client.js"
'
echo "account round trip passed: every database, container, item, script and setting matches"
