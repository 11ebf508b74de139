#!/usr/bin/env bash
# cosmos-backup on a container of several partition key ranges (the scripted server):
#   - a split and a merge in the middle of a parallel backup: every item exactly once;
#   - a one-range container read by four readers in sub-ranges, through a split and a merge:
#     every item exactly once; a server that ignores the sub-range bounds is noticed before
#     anything is written, said once, and the ranges are read whole;
#   - a backup (eight readers in sub-ranges of the four ranges) and a restore killed at 40% and
#     resumed: an exact result, the second run reading or writing well under the whole;
#   - a restore under a tight RU/s limit of the server finishes with every item;
#   - on a session-consistency account (reads lag behind unless they send the writes' session
#     token) the restore's count and verify see every item;
#   - items the service refuses go to the failure report (exit status 3), the others are written.
# Prints one line per case and "N passed, N failed".
# Usage: big-containers.sh BUILD_DIR
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "${1:?usage: big-containers.sh BUILD_DIR}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export CLOUDSDK_LOG="$work/bridge.log" BIG_BUILD="$build" BIG_WORK="$work" BIG_HERE="$here"

"$here/scripted/with-scripted-server.sh" --ranges 4 -- bash -c '
  set -uo pipefail
  cd "$BIG_WORK"
  tool=("$BIG_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify)
  passed=0 failed=0
  pass() { echo "PASS $1"; passed=$((passed + 1)); }
  fail() { echo "FAIL $1"; failed=$((failed + 1)); }
  # ctl ACTION [JSON]: a control call to the scripted server; prints its JSON answer.
  ctl() {
    node -e "require(process.argv[1]).control(process.env.COSMOS_ENDPOINT, process.argv[2], process.argv[3] && JSON.parse(process.argv[3]))
      .then((r) => console.log(JSON.stringify(r)), (e) => { console.error(e.message); process.exit(1); })" \
      "$BIG_HERE/scripted/client.js" "$@"
  }
  field() { node -e "let s=\"\";process.stdin.on(\"data\",d=>s+=d).on(\"end\",()=>console.log(JSON.parse(s)[process.argv[1]]))" "$1"; }
  # verify_exact NAME DIR DB C: the backup holds each of N items once and equals the container.
  verify_exact() {
    local out
    out=$("${tool[@]}" verify --from "$2" --database "$3" --container "$4" 2>"$BIG_WORK/verify.err" | head -1)
    if [[ $out == "verify: $5 items in the backup, $5 in the container, $5 equal, 0 problems" ]]; then pass "$1"
    else fail "$1: $out $(head -3 "$BIG_WORK/verify.err")"; fi
  }
  # run_killed PID_FILE ITEMS COUNT CMD...: runs CMD, has the server kill it after ITEMS items.
  run_killed() {
    local items=$1 count=$2; shift 2
    "$@" >"$BIG_WORK/killed.out" 2>"$BIG_WORK/killed.err" &
    local pid=$!
    ctl kill "{\"pid\":$pid,\"items\":$items,\"count\":\"$count\"}" >/dev/null
    if wait "$pid"; then return 1; fi
    return 0
  }

  ctl seed "{\"db\":\"big\",\"coll\":\"src\",\"count\":3000}" >/dev/null || { echo "seeding failed"; exit 1; }
  ctl seed "{\"db\":\"big\",\"coll\":\"small\",\"count\":600}" >/dev/null || { echo "seeding failed"; exit 1; }

  # A split of range 1 and a merge of ranges 2 and 3, both while the four ranges are being read.
  ctl split "{\"db\":\"big\",\"coll\":\"src\",\"range\":\"1\",\"afterRequests\":25}" >/dev/null
  ctl merge "{\"db\":\"big\",\"coll\":\"src\",\"range\":\"2\",\"afterRequests\":40}" >/dev/null
  ctl stats/reset >/dev/null
  if "${tool[@]}" backup --database big --container src --out split --page-size 40 --parallel 4 >split.out 2>split.err; then
    gone=$(ctl stats | field gone)
    (( gone >= 2 )) && pass "split and merge happened during the backup ($gone answers 410)" || fail "no 410 during the backup: $gone"
    verify_exact "backup through a split and a merge holds every item once" split big src 3000
  else
    fail "backup through a split and a merge: $(tail -2 split.err)"
  fi

  # One range, four readers: sub-ranges, followed through a split of the range and a merge of
  # its children in the middle of the read (ids: 0 splits into 1 and 2, which merge into 3).
  ctl config "{\"ranges\":1}" >/dev/null
  ctl seed "{\"db\":\"big\",\"coll\":\"one\",\"count\":2000}" >/dev/null || { echo "seeding failed"; exit 1; }
  ctl config "{\"ranges\":4}" >/dev/null
  ctl split "{\"db\":\"big\",\"coll\":\"one\",\"range\":\"0\",\"afterRequests\":25}" >/dev/null
  ctl merge "{\"db\":\"big\",\"coll\":\"one\",\"range\":\"1\",\"afterRequests\":40}" >/dev/null
  ctl stats/reset >/dev/null
  if "${tool[@]}" backup --database big --container one --out sub --page-size 40 --parallel 4 >sub.out 2>sub.err; then
    gone=$(ctl stats | field gone)
    parts=$(ls sub | grep -o "^items-r[0-9]*" | sort -u | wc -l)
    (( gone >= 2 && parts == 4 )) && ! grep -q "whole ranges" sub.err \
      && pass "one range read in 4 sub-ranges through a split and a merge ($gone answers 410)" \
      || fail "sub-range read: $parts parts, $gone answers 410, $(grep "whole ranges" sub.err)"
    verify_exact "sub-ranges through a split and a merge hold every item once" sub big one 2000
  else
    fail "sub-range backup through a split and a merge: $(tail -2 sub.err)"
  fi
  ctl config "{\"ignoreKeyBounds\":true}" >/dev/null
  if "${tool[@]}" backup --database big --container one --out ignored --page-size 40 --parallel 4 >ignored.out 2>ignored.err; then
    parts=$(ls ignored | grep -o "^items-r[0-9]*" | sort -u | wc -l)
    notes=$(grep -c "reading whole ranges" ignored.err)
    (( notes == 1 && parts == 1 )) && pass "a server ignoring sub-range bounds is noticed and said once; the range is read whole" \
      || fail "ignored sub-range bounds: $notes notes, $parts parts"
    verify_exact "the whole-range read after the fallback holds every item once" ignored big one 2000
  else
    fail "backup from a server ignoring sub-range bounds: $(tail -2 ignored.err)"
  fi
  ctl config "{\"ignoreKeyBounds\":false}" >/dev/null

  if run_killed 1200 read "${tool[@]}" backup --database big --container src --out killed --page-size 25 --items-per-file 50 --parallel 8; then
    [[ -e killed/manifest.json ]] && fail "killed backup left a manifest" || pass "backup killed at 40% left no manifest"
    if "${tool[@]}" backup --database big --container small --out killed --resume >other.out 2>other.err; then fail "resume of another container was accepted"
    elif grep -q "is of container src" other.err; then pass "resume refuses another container"; else fail "resume of another container: $(tail -1 other.err)"; fi
    ctl stats/reset >/dev/null
    if "${tool[@]}" backup --out killed --resume --page-size 25 --items-per-file 50 >resumed.out 2>resumed.err; then
      read_again=$(ctl stats | field itemsRead)
      parts=$(ls killed | grep -o "^items-r[0-9]*" | sort -u | wc -l)
      (( read_again < 2600 && parts == 8 )) && pass "resumed backup of 8 sub-ranges read $read_again of 3000 items" \
        || fail "resumed backup read $read_again of 3000 items in $parts parts"
      verify_exact "resumed backup is exact" killed big src 3000
    else
      fail "resumed backup: $(tail -2 resumed.err)"
    fi
  else
    fail "backup was not killed"
  fi

  if run_killed 1200 written "${tool[@]}" restore --from killed --database big --container dst --parallel 4; then
    if "${tool[@]}" restore --from killed --database big --container dst >again.out 2>again.err; then fail "restore into the half-restored container without --resume succeeded"
    elif grep -q -- "--resume" again.err; then pass "restore without --resume says what to run"; else fail "restore without --resume: $(tail -1 again.err)"; fi
    ctl stats/reset >/dev/null
    if "${tool[@]}" restore --from killed --database big --container dst --resume >resumed.out 2>resumed.err; then
      written=$(ctl stats | field itemsWritten)
      (( written < 2100 )) && pass "resumed restore wrote $written of 3000 items" || fail "resumed restore wrote $written of 3000 items"
      verify_exact "resumed restore is exact" killed big dst 3000
    else
      fail "resumed restore: $(tail -2 resumed.err)"
    fi
  else
    fail "restore was not killed"
  fi

  "${tool[@]}" backup --database big --container small --out small >/dev/null 2>&1 || fail "backup of the small container"
  ctl config "{\"ruPerSecond\":1000}" >/dev/null
  if "${tool[@]}" restore --from small --database big --container throttled --parallel 8 >throttled.out 2>throttled.err; then
    grep -Eq "[1-9][0-9]* throttled" throttled.out && pass "restore under a tight RU limit finishes: $(grep -o "[0-9]* throttled" throttled.out)" \
      || fail "restore under an RU limit was never throttled: $(cat throttled.out)"
  else
    fail "restore under a tight RU limit: $(tail -2 throttled.err)"
  fi
  ctl config "{\"ruPerSecond\":0}" >/dev/null

  # Reads that lag behind writes unless they send the writes session token: the count after the
  # restore and verify must still see every item.
  ctl config "{\"laggingReads\":true,\"lagMs\":60000}" >/dev/null
  if "${tool[@]}" restore --from small --database big --container session >session.out 2>session.err; then
    pass "restore counts its own writes on a session-consistency account"
    verify_exact "verify sees the restore'"'"'s writes" small big session 600
  else
    fail "restore on a session-consistency account: $(tail -1 session.err)"
  fi
  ctl config "{\"laggingReads\":false}" >/dev/null

  # Two items the service refuses (ids with "/" and "?"): listed in the report, the rest written.
  cp -r small refused
  node -e "
    const fs = require(\"fs\"), zlib = require(\"zlib\"), path = require(\"path\");
    const dir = process.argv[1], manifest = JSON.parse(fs.readFileSync(path.join(dir, \"manifest.json\")));
    const file = manifest.files[0], where = path.join(dir, file.name);
    const lines = zlib.gunzipSync(fs.readFileSync(where)).toString().split(\"\n\").slice(0, -1);
    const first = JSON.parse(lines[0]);
    for (const id of [\"bad/1\", \"bad?2\"]) lines.push(JSON.stringify({ ...first, id }));
    const bytes = zlib.gzipSync(lines.map((l) => l + \"\n\").join(\"\"));
    fs.writeFileSync(where, bytes);
    Object.assign(file, { items: lines.length, bytes: bytes.length, crc32: zlib.crc32(bytes).toString(16).padStart(8, \"0\") });
    manifest.itemCount += 2;
    if (manifest.chain && manifest.chain.keys) manifest.chain.keys.items += 2;  // the seal'"'"'s counts agree
    fs.writeFileSync(path.join(dir, \"manifest.json\"), JSON.stringify(manifest));" refused
  "${tool[@]}" restore --from refused --database big --container refused >refused.out 2>refused.err
  status=$?
  report=$(ls cosmos-backup-failed-big_refused-*.jsonl 2>/dev/null | head -1)
  if [[ $status == 3 && -n $report && $(grep -c "\"status\":400" "$report") == 2 ]] && grep -q "600 counted" refused.out; then
    pass "refused items are reported, the others written"
  else
    fail "refused items: status $status, report [$report], $(cat refused.out refused.err | tail -2)"
  fi
  # A container that moved on since its backup: every difference is counted, --max-problems of
  # them listed (then "and N more"), the JSON lists them too, the reads'"'"' RU are counted, and
  # the progress total grows with the live items rather than being overtaken.
  node "$BIG_HERE/scripted/cli.js" mutate --db big --coll small --updates 150 --deletes 50 --inserts 150 >/dev/null
  "${tool[@]}" verify --from small --database big --container small --max-problems 5 >drift.out 2>drift.err
  status=$?
  listed=$(grep -c "^verify: \(item\|live item\|backup item\)" drift.err)
  if [[ $status == 4 && $listed == 5 ]] && grep -q "^verify: and 345 more" drift.err && grep -q "350 problems" drift.out \
     && grep -qE "^requests: [1-9][0-9.]* RU" drift.out; then
    pass "verify lists --max-problems differences, counts the rest and its RU"
  else fail "verify of a changed container: status $status, $listed listed: $(cat drift.out; tail -2 drift.err)"; fi
  "${tool[@]}" --json verify --from small --database big --container small --max-problems 7 >drift.json 2>drift-progress.jsonl
  node -e "
    const r = JSON.parse(require(\"fs\").readFileSync(\"drift.json\", \"utf8\"));
    const c = r.containers[0];
    const lines = require(\"fs\").readFileSync(\"drift-progress.jsonl\", \"utf8\").split(\"\n\").filter((l) => l.startsWith(\"{\\\"progress\"));
    const past = lines.map(JSON.parse).filter((p) => p.expectedItems > 0 && p.items > p.expectedItems);
    process.exit(r.exitCode === 4 && c.problems === 350 && c.differences.length === 7 && c.requestCharge > 0 && lines.length > 0 && past.length === 0 ? 0 : 1);" \
    && pass "verify --json lists the differences and the RU; progress never past its total" \
    || fail "verify --json: $(head -c 400 drift.json) $(tail -1 drift-progress.jsonl)"
  echo "$passed passed, $failed failed"
  (( failed == 0 ))
'
