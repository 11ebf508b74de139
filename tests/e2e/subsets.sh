#!/usr/bin/env bash
# Subset restores and state restores on the scripted server (four ranges, a hierarchical key
# /tenant/user):
#   - a chain of three backups restored as its state writes each item once;
#   - one tenant damaged after the second backup is put back in place with --partition-key (a
#     prefix of the hierarchical key) --into-existing --replace-subset: afterwards its items are
#     exactly those of that backup and every other tenant's are as they were before the restore;
#     only the data files whose key interval holds the tenant are read; --dry-run lists the same
#     writes and deletions and changes nothing; verify --partition-key compares that tenant only;
#   - --ids restores the named items into a new container;
#   - the chain restored over its base's state (--into-existing) deletes what the chain deleted;
#   - the same tenant restored from a chain in blob storage reads one data file per link.
# Prints one line per case and "N passed, N failed".
# Usage: subsets.sh BUILD_DIR
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "${1:?usage: subsets.sh BUILD_DIR}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export CLOUDSDK_LOG="$work/bridge.log" SUB_BUILD="$build" SUB_WORK="$work" SUB_HERE="$here"

"$here/scripted/with-scripted-server.sh" --ranges 4 -- "$here/with-azurite.sh" bash -c '
  set -uo pipefail
  cd "$SUB_WORK"
  tool=("$SUB_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify)
  passed=0 failed=0
  pass() { echo "PASS $1"; passed=$((passed + 1)); }
  fail() { echo "FAIL $1"; failed=$((failed + 1)); }
  cli() { node "$SUB_HERE/scripted/cli.js" "$@"; }
  # tenant ITEMS_JSON [NOT]: the items (canonical JSON, one a line, sorted) of tenant $TENANT, or of every other.
  items_of() {
    node -e "
      const d = JSON.parse(require(\"fs\").readFileSync(process.argv[1], \"utf8\"));
      const keep = (i) => (i.tenant === process.argv[2]) !== (process.argv[3] === \"not\");
      const canon = (v) => Array.isArray(v) ? v.map(canon) : v && typeof v === \"object\" ? Object.fromEntries(Object.keys(v).sort().map((k) => [k, canon(v[k])])) : v;
      process.stdout.write(d.items.filter(keep).map((i) => JSON.stringify(canon(i))).sort().join(\"\n\") + \"\n\");
    " "$@"
  }

  key='"'"'{"paths":["/tenant","/user"],"kind":"MultiHash","version":2}'"'"'
  cli seed --db d --coll src --count 2000 --partitionKey "$key" >/dev/null || { echo "seeding failed"; exit 1; }
  "${tool[@]}" backup --database d --container src --out full >full.out 2>&1 || fail "full backup: $(tail -1 full.out)"
  cli mutate --db d --coll src --updates 200 --deletes 80 --inserts 100 --round 1 >/dev/null
  "${tool[@]}" backup --database d --container src --out inc1 --since full >inc1.out 2>&1 || fail "increment 1: $(tail -1 inc1.out)"
  cli dump --db d --coll src >at-inc1.json
  # The tenant of the first item the next round inserts, so that the tenant gains an item to delete.
  tenant=$(node -e "console.log(\"pk-\" + String((2000000 * 7919) % 97).padStart(4, \"0\"))")
  cli mutate --db d --coll src --updates 300 --deletes 120 --inserts 100 --round 2 >/dev/null
  "${tool[@]}" backup --database d --container src --out inc2 --since inc1 >inc2.out 2>&1 || fail "increment 2: $(tail -1 inc2.out)"
  cli dump --db d --coll src >damaged.json

  # The chain as its state: each item written once.
  state=$(node -e "console.log(JSON.parse(require(\"fs\").readFileSync(\"damaged.json\")).items.length)")
  if "${tool[@]}" restore --from inc2 --database whole --container src >whole.out 2>whole.err; then
    grep -q ": $state items written, $state counted" whole.out && cli compare --db d --coll src --db2 whole >/dev/null \
      && pass "chain of three restored as its state: $state items, each written once" || fail "state restore: $(head -1 whole.out)"
  else fail "state restore: $(tail -1 whole.err)"; fi

  [[ $(items_of at-inc1.json "$tenant") != $(items_of damaged.json "$tenant") ]] || fail "the tenant was not changed by the second round"
  items_of damaged.json "$tenant" not >others-before.txt
  sub=("${tool[@]}" restore --from inc1 --database d --container src --partition-key "[\"$tenant\"]" --into-existing --replace-subset)
  # A dry run lists what would be written and deleted, and writes nothing.
  if "${sub[@]}" --dry-run >dry.out 2>dry.err; then
    cli dump --db d --coll src >after-dry.json
    writes=$(grep -c "^write " dry.out) deletes=$(grep -c "^delete " dry.out)
    want=$(items_of at-inc1.json "$tenant" | grep -c .)
    if [[ $writes == "$want" && $deletes -ge 1 ]] && cmp -s <(items_of damaged.json "$tenant") <(items_of after-dry.json "$tenant"); then
      pass "dry run: $writes items to write, $deletes to delete, nothing written"
    else fail "dry run: $writes writes (want $want), $deletes deletes; $(tail -1 dry.out) $(tail -1 dry.err)"; fi
  else fail "dry run: $(tail -1 dry.err)"; fi
  # In place: the tenant exactly as at the backup, the other tenants untouched.
  if "${sub[@]}" >sub.out 2>sub.err; then
    cli dump --db d --coll src >after.json
    if cmp -s <(items_of at-inc1.json "$tenant") <(items_of after.json "$tenant") && cmp -s others-before.txt <(items_of after.json "$tenant" not); then
      pass "tenant $tenant restored in place exactly as at the backup, other tenants untouched"
    else fail "tenant in place: $(diff <(items_of at-inc1.json "$tenant") <(items_of after.json "$tenant") | head -3)"; fi
    files=$(sed -n "s/^subset: \([0-9]*\) data files read.*/\1/p" sub.out)
    all=$(cat full/manifest.json inc1/manifest.json | grep -c "\"name\": \"items-")
    [[ -n $files && $files -ge 1 && $((files * 2)) -le $all ]] && pass "the subset read $files of $all data files" || fail "files read: $files of $all; $(cat sub.out)"
  else fail "subset in place: $(tail -1 sub.err)"; fi
  out=$("${tool[@]}" verify --from inc1 --partition-key "[\"$tenant\"]" 2>verify.err | head -1)
  n=$(items_of at-inc1.json "$tenant" | grep -c .)
  [[ $out == "verify: $n items in the backup, $n in the container, $n equal, 0 problems" ]] && pass "verify --partition-key compares the tenant only ($n items)" \
    || fail "verify of the tenant: $out $(head -2 verify.err)"

  # Named items into a new container.
  node -e "
    const d = JSON.parse(require(\"fs\").readFileSync(\"at-inc1.json\", \"utf8\"));
    for (const i of d.items.slice(0, 5)) console.log(JSON.stringify([i.id, i.tenant, i.user]));
  " >ids.txt
  if "${tool[@]}" restore --from inc2 --ids ids.txt --database named --container src >ids.out 2>ids.err; then
    grep -q ": [0-9]* items written, [0-9]* counted" ids.out && [[ $(cli dump --db named --coll src | node -e "
      const d = JSON.parse(require(\"fs\").readFileSync(0, \"utf8\")); const want = require(\"fs\").readFileSync(\"ids.txt\", \"utf8\").trim().split(\"\n\");
      console.log(d.items.every((i) => want.includes(JSON.stringify([i.id, i.tenant, i.user]))) && d.items.length >= 1 ? \"ok\" : \"bad\")") == ok ]] \
      && pass "--ids restores only the named items ($(sed -n "s/.*: \([0-9]*\) items written.*/\1/p" ids.out) of 5 in that state)" || fail "--ids: $(head -1 ids.out)"
  else fail "--ids: $(tail -1 ids.err)"; fi
  # The chain over a container holding its base: the state written, the keys deleted since the base removed.
  "${tool[@]}" restore --from full --database over --container src >/dev/null 2>&1 || fail "restoring the base"
  if "${tool[@]}" restore --from inc2 --database over --container src --into-existing >over.out 2>over.err; then
    cli compare --db whole --coll src --db2 over >/dev/null && grep -q "chain: 3 backups restored, 200 deletions applied" over.out \
      && pass "the chain over its base state: 200 deletions applied, equal to the chain restored anew" || fail "chain over its base: $(tail -1 over.out)"
  else fail "chain over its base: $(tail -1 over.err)"; fi

  # A chain in blob storage: the tenant alone, one data file per link.
  blobs="$STORAGE_ENDPOINT/$STORAGE_ACCOUNT/backups/src"
  node "$SUB_HERE/blob.js" create-container backups || fail "creating the blob container"
  "${tool[@]}" backup --database d --container src --out "$blobs/full" >/dev/null 2>&1 || fail "full backup to blob storage"
  cli mutate --db d --coll src --updates 100 --deletes 40 --inserts 50 --round 3 >/dev/null
  "${tool[@]}" backup --database d --container src --out "$blobs/inc" --since "$blobs/full" >/dev/null 2>&1 || fail "increment to blob storage"
  cli dump --db d --coll src >at-blob.json
  if "${tool[@]}" restore --from "$blobs/inc" --partition-key "[\"$tenant\"]" --database fromblob --container src >blob.out 2>blob.err; then
    cli dump --db fromblob --coll src >fromblob.json
    cmp -s <(items_of at-blob.json "$tenant") <(items_of fromblob.json "$tenant") && [[ -z $(items_of fromblob.json "$tenant" not) ]] \
      && grep -q "^subset: 2 data files read" blob.out && pass "the tenant from a chain in blob storage, one data file per link" \
      || fail "tenant from blob storage: $(cat blob.out)"
  else fail "tenant from blob storage: $(tail -1 blob.err)"; fi
  echo "$passed passed, $failed failed"
  (( failed == 0 ))
'
