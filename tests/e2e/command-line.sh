#!/usr/bin/env bash
# The command line as people type it, without a server: a key pasted into any option or typo is
# never printed back; mistyped commands and options get the nearest spelling; global options
# work after the command's name; --version names the commit and the runtime.
# Prints one line per case and "N passed, N failed".
# Usage: command-line.sh BUILD_DIR
set -uo pipefail
build="$(cd "${1:?usage: command-line.sh BUILD_DIR}" && pwd)"
tool="$build/bin/cosmos-backup"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
passed=0 failed=0
pass() { echo "PASS $1"; passed=$((passed + 1)); }
fail() { echo "FAIL $1"; failed=$((failed + 1)); }

# A key-shaped secret, in the environment as users keep it, and one only on the command line.
export COSMOS_KEY="Zm9vYmFyYmF6cXV4c2VjcmV0a2V5dGhhdG11c3RuZXZlcmJlcHJpbnRlZA=="
typed="c3VwZXJzZWNyZXQtdHlwZWQtb24tdGhlLWxpbmU="
export COSMOS_ENDPOINT="https://127.0.0.1:1"
leaks=()
# leaks_from NAME ARG...: runs the tool; the case fails when either secret shows in its output.
leaks_from() {
  local name=$1
  shift
  "$tool" "$@" >"$name.out" 2>&1
  grep -qF -e "$COSMOS_KEY" -e "$typed" "$name.out" && leaks+=("$name: $(head -c 300 "$name.out")")
  [[ -s $name.out ]] || leaks+=("$name: printed nothing")
}
leaks_from key-before --key "$COSMOS_KEY" list-databases
leaks_from key-after list-databases --key "$COSMOS_KEY"
leaks_from key-equals --key="$typed" list-databases
leaks_from key-env --key-env "$COSMOS_KEY" list-databases
leaks_from key-file --key-file "$COSMOS_KEY" list-databases
leaks_from typo-kye --kye "$typed" list-databases
leaks_from typo-key-fiel --key-fiel "$typed" list-databases
leaks_from account-key backup --account-key "$typed" --out x
leaks_from password restore --password="$typed" --from .
leaks_from positional list-databases "$typed"
leaks_from positional-key verify --offline --from . "$COSMOS_KEY"
leaks_from json --json --key "$typed" list-databases
if [[ ${#leaks[@]} == 0 ]]; then pass "no secret printed back, in any of 12 spellings"
else fail "secrets printed: ${leaks[*]}"; fi

"$tool" --key "$typed" list-databases 2>key.err
[[ $? == 2 ]] && grep -q "never from the command line" key.err \
  && pass "--key is a usage error that says where the key comes from" || fail "--key: $(cat key.err)"

"$tool" bakcup --out x 2>typo.err
[[ $? == 2 ]] && grep -q "unknown command 'bakcup'; did you mean backup?" typo.err \
  && pass "a mistyped command gets its nearest spelling" || fail "bakcup: $(cat typo.err)"
"$tool" backup --database d --container c --paralel 8 --out x 2>option.err
[[ $? == 2 ]] && grep -q "unknown option --paralel; did you mean --parallel?" option.err && ! grep -q " 8" option.err \
  && pass "a mistyped option gets its nearest spelling, its value is not echoed" || fail "--paralel: $(cat option.err)"

# --json after the command's name: the failure (no server there) comes as the JSON document.
"$tool" list-databases --json --timeout-ms 2000 >json.out 2>/dev/null
[[ $? == 1 ]] && grep -q '"exitCode":1' json.out \
  && pass "global options after the command's name" || fail "list-databases --json: $(cat json.out)"

"$tool" restore --from . --database d --container c --throughput 450 2>throughput.err
[[ $? == 2 ]] && grep -q "multiple of 100" throughput.err \
  && pass "--throughput 450 is refused before any request" || fail "--throughput 450: $(cat throughput.err)"

"$tool" --version >version.out 2>&1
grep -qE '^cosmos-backup [0-9.]+ \(commit ([0-9a-f]{7,}(\+changes)?|unknown)\), runtime: Mono [0-9]' version.out \
  && pass "--version names the commit and the runtime" || fail "--version: $(cat version.out)"

echo "$passed passed, $failed failed"
[[ $failed == 0 ]]
