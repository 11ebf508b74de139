#!/usr/bin/env bash
# The backup and restore round trip on a local test server: seeds a partitioned container
# with the official SDK, backs it up with cosmos-backup, restores it into another database,
# verifies the backup against both containers, and compares both sides with the official SDK.
# Exits non-zero on any difference.
# Usage: roundtrip.sh BUILD_DIR [ITEM_COUNT]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "${1:?usage: roundtrip.sh BUILD_DIR [ITEM_COUNT]}" && pwd)"
items="${2:-10000}"
[[ -x "$build/bin/cosmos-backup" ]] || { echo "no $build/bin/cosmos-backup: build first" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export CLOUDSDK_LOG="$work/bridge.log"
export ROUNDTRIP_BUILD="$build" ROUNDTRIP_ITEMS="$items" ROUNDTRIP_WORK="$work" ROUNDTRIP_HERE="$here"

"$here/with-server.sh" bash -c '
  set -euo pipefail
  tool=("$ROUNDTRIP_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify)
  echo "== seeding $ROUNDTRIP_ITEMS items with the official SDK at $COSMOS_ENDPOINT"
  node "$ROUNDTRIP_HERE/seed.js" "$COSMOS_ENDPOINT" shop orders "$ROUNDTRIP_ITEMS"
  echo "== backup"
  "${tool[@]}" backup --database shop --container orders --out "$ROUNDTRIP_WORK/backup"
  echo "== restore into another database"
  "${tool[@]}" restore --from "$ROUNDTRIP_WORK/backup" --database shop-restored --container orders-copy
  echo "== verify the backup against the source and the copy"
  "${tool[@]}" verify --from "$ROUNDTRIP_WORK/backup"
  "${tool[@]}" verify --from "$ROUNDTRIP_WORK/backup" --database shop-restored --container orders-copy
  echo "== compare both containers with the official SDK"
  node "$ROUNDTRIP_HERE/compare.js" "$COSMOS_ENDPOINT" shop orders shop-restored orders-copy
'
echo "round trip passed: every item, script and setting matches"
