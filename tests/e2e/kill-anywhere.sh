#!/usr/bin/env bash
# Kill it anywhere, on the scripted server (four ranges, a little latency per request): a full
# backup, a restore of it, an increment and a restore of the chain are each killed (SIGKILL) at
# random moments KILLS times. After each kill the run is continued either with the same command
# and --resume, or with a new run of the command, which must go on by itself (nothing recorded
# yet) or name, as its last words, the one-line command that continues; that command is run.
# Each finishes with --resume, and its result must equal the source exactly: the backup and the
# increment by verify against the container, the restores by comparing containers.
# Prints the seed (KILL_SEED=N replays a run), one line per case and "N passed, N failed".
# Usage: kill-anywhere.sh BUILD_DIR [KILLS=6]
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "${1:?usage: kill-anywhere.sh BUILD_DIR [KILLS]}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
seed=${KILL_SEED:-$(( $(date +%s%N) % 32768 ))}
echo "seed $seed (KILL_SEED=$seed replays the same kill moments)"
export CLOUDSDK_LOG="$work/bridge.log" KILL_BUILD="$build" KILL_WORK="$work" KILL_HERE="$here" KILL_SEED="$seed" KILLS="${2:-6}"

"$here/scripted/with-scripted-server.sh" --ranges 4 --latency-ms 3 -- bash -c '
  set -uo pipefail
  cd "$KILL_WORK"
  RANDOM=$KILL_SEED
  tool=("$KILL_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify)
  passed=0 failed=0
  pass() { echo "PASS $1"; passed=$((passed + 1)); }
  fail() { echo "FAIL $1"; failed=$((failed + 1)); }
  cli() { node "$KILL_HERE/scripted/cli.js" "$@"; }
  now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

  # run_killed WINDOW_MS CMD...: runs CMD and kills it after a random delay between a tenth and
  # four fifths of the window; sets status (137 when killed) and delay, and leaves its output in attempt.*.
  run_killed() {
    local window=$1; shift
    "$@" >attempt.out 2>attempt.err &
    local pid=$!
    delay=$(( window / 10 + RANDOM * window * 7 / 10 / 32768 ))
    sleep "$(printf "%d.%03d" $((delay / 1000)) $((delay % 1000)))"
    kill -KILL "$pid" 2>/dev/null
    wait "$pid"
    status=$?
  }

  # kill_anywhere NAME CMD...: CMD (without --resume) killed KILLS times at random moments, then
  # finished; fails NAME when a state needs anything but --resume or the command a refusal names.
  kill_anywhere() {
    local name=$1; shift
    local start window kills=0 attempts=0 hint next
    start=$(now_ms)
    # How long the whole command takes, once, elsewhere: the window the kills fall in.
    "${reference[@]}" >reference.out 2>reference.err || { fail "$name: the reference run failed: $(tail -1 reference.err)"; return; }
    window=$(( $(now_ms) - start ))
    next=("$@")
    while (( kills < KILLS && attempts < 3 * KILLS )); do
      attempts=$((attempts + 1))
      run_killed "$window" "${next[@]}"
      if (( status == 137 )); then
        kills=$((kills + 1))
        # What is left to do after this kill, roughly: the next kill falls within it.
        window=$(( window - delay + floor > floor * 3 / 2 ? window - delay + floor : floor * 3 / 2 ))
        # Continue alternately with --resume and with a new run of the same command.
        if (( kills % 2 == 1 )); then next=("$@" --resume); else next=("$@"); fi
      elif (( status == 0 )); then
        break
      else
        hint=$(tail -1 attempt.err | sed -nE "s/.*to continue( it)?, run: //p")
        if [[ -n $hint ]]; then
          eval "next=($hint)"
        elif grep -q "it holds a complete backup" attempt.err; then
          next=("$@" --resume)
        else
          fail "$name: after $kills kills a run neither continued nor said how: $(tail -1 attempt.err)"
          return
        fi
      fi
    done
    if ! "$@" --resume >final.out 2>final.err; then
      fail "$name: the final --resume after $kills kills failed: $(tail -1 final.err)"
      return
    fi
    pass "$name: killed $kills times in $attempts runs, then finished"
  }

  # exact NAME DIR: verify finds the backup (or the chain) equal to the source container.
  exact() {
    local out
    out=$("${tool[@]}" verify --from "$2" --database d --container src 2>verify.err | head -1)
    [[ $out =~ ^"verify: "([0-9]+)" items in the backup, "([0-9]+)" in the container, "([0-9]+)" equal, 0 problems"$ &&
       ${BASH_REMATCH[1]} == "${BASH_REMATCH[2]}" && ${BASH_REMATCH[1]} == "${BASH_REMATCH[3]}" ]] && pass "$1 ($out)" \
      || fail "$1: $out $(head -2 verify.err)"
  }
  same() {
    local out
    out=$(cli compare --db d --coll src --db2 "$2" 2>&1) && pass "$1 ($out)" || fail "$1: $out"
  }

  cli seed --db d --coll src --count 5000 >/dev/null || { echo "seeding failed"; exit 1; }
  # The start-up of any command (runtime, connection): a kill before it ends finds nothing begun.
  start=$(now_ms)
  "${tool[@]}" list-databases >/dev/null 2>&1
  floor=$(( $(now_ms) - start ))
  settings=(--page-size 50 --items-per-file 200 --parallel 2)

  reference=("${tool[@]}" backup --database d --container src --out ref-full "${settings[@]}")
  kill_anywhere "backup" "${tool[@]}" backup --database d --container src --out full "${settings[@]}"
  exact "the killed backup holds the source exactly" full

  reference=("${tool[@]}" restore --from ref-full --database ref1 --container src --parallel 4)
  kill_anywhere "restore" "${tool[@]}" restore --from full --database r1 --container src --parallel 4
  same "the killed restore equals the source" r1

  cli mutate --db d --coll src --updates 900 --deletes 200 --inserts 200 --round 1 >/dev/null
  cli split --db d --coll src --range 0 >/dev/null || fail "splitting range 0"
  reference=("${tool[@]}" backup --database d --container src --out ref-inc --since ref-full "${settings[@]}")
  # The increment is given no settings again when it resumes: its record has them, and its parent.
  kill_anywhere "increment" "${tool[@]}" backup --database d --container src --out inc --since full "${settings[@]}"
  exact "the killed increment describes the source exactly" inc
  [[ $(node -e "console.log(require(\"./inc/manifest.json\").chain.kind)") == incremental ]] && pass "the resumed increment is an increment" \
    || fail "the resumed increment is not an increment"

  reference=("${tool[@]}" restore --from ref-inc --database ref2 --container src --parallel 4)
  kill_anywhere "chain restore" "${tool[@]}" restore --from inc --database r2 --container src --parallel 4
  same "the killed chain restore equals the source" r2

  # A location holding only what a kill before the first record leaves is taken as empty.
  mkdir started && : >started/checkpoint.json.claim-a1b2c3
  "${tool[@]}" backup --database d --container src --out started --resume >started.out 2>started.err \
    && [[ -e started/manifest.json && ! -e started/checkpoint.json.claim-a1b2c3 ]] && pass "an unfinished start is taken as empty" \
    || fail "unfinished start: $(tail -1 started.err)"
  # A restore recorded into one account is not resumed against another.
  "${tool[@]}" restore --from full --database r3 --container src >r3.out 2>&1 &
  pid=$!
  cli kill --pid $pid --items 300 --count written >/dev/null
  wait $pid
  other=${COSMOS_ENDPOINT/127.0.0.1/localhost}
  if COSMOS_ENDPOINT=$other "${tool[@]}" restore --from full --database r3 --container src --resume >other.out 2>other.err; then
    fail "a restore was resumed against another account"
  else
    grep -q "was into the account at $COSMOS_ENDPOINT" other.err && pass "a resume against another account is refused" \
      || fail "resume against another account: $(tail -1 other.err)"
  fi

  # A restore refused because its target existed leaves nothing that --resume would write into.
  "${tool[@]}" restore --from full --database d --container src >exists.out 2>&1
  if "${tool[@]}" restore --from full --database d --container src --resume >exists.out 2>exists.err; then
    fail "a resume wrote into a container that existed before the restore"
  else
    grep -q "it exists" exists.err && pass "a refused restore leaves nothing to resume" || fail "resume after a refusal: $(tail -1 exists.err)"
  fi

  leftovers=$(ls full inc | grep -E "checkpoint|partial" | head -3)
  [[ -z $leftovers ]] && pass "no checkpoint or unfinished file is left behind" || fail "left behind: $leftovers"
  echo "$passed passed, $failed failed"
  (( failed == 0 ))
'
