#!/usr/bin/env bash
# The runtime's class libraries compiled ahead of time (scripts/aot-runtime-assemblies.sh, run
# by scripts/install-deps.sh) are what the tool loads: a 100-item backup's runtime log shows each
# of their images found. With one image replaced by another assembly's, the runtime refuses it,
# compiles that assembly itself, and the backup still holds every item. The replaced image is
# put back on any exit; left behind (a killed test), it is older than its assembly, so the next
# run of the compile script makes it again.
# Needs root (it writes into the runtime's GAC); fails, never skips, without it.
# Usage: aot-images.sh BUILD_DIR
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
build="$(cd "${1:?usage: aot-images.sh BUILD_DIR}" && pwd)"
work="$(mktemp -d)"
replaced=""
cleanup() {
  [[ -n $replaced && -f $work/saved.so ]] && mv -f -- "$work/saved.so" "$replaced"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

passed=0 failed=0
pass() { echo "PASS $1"; passed=$((passed + 1)); }
fail() { echo "FAIL $1"; failed=$((failed + 1)); }
finish() { echo "$passed passed, $failed failed"; [[ $failed == 0 ]]; exit; }

mapfile -t assemblies < <(bash "$here/../../scripts/aot-runtime-assemblies.sh" --list)
[[ ${#assemblies[@]} -gt 0 ]] || { fail "no class library found to compile"; finish; }
if [[ $(id -u) != 0 ]]; then fail "replacing an image in the GAC needs root"; finish; fi

# backup.sh NAME...: a 100-item backup for each NAME, with the runtime's AOT log (on stdout) in
# $work/NAME.log, then verified against the container; "stale" first replaces the image.
export AOT_BUILD="$build" AOT_WORK="$work"
cat >"$work/backup.sh" <<'RUN'
set -uo pipefail
node "$AOT_HERE/scripted/cli.js" seed --db d --coll c --count 100 >/dev/null || { echo "seeding failed"; exit 1; }
for name in "$@"; do
  [[ $name == stale ]] && { mv -f -- "$AOT_STALE" "$AOT_WORK/saved.so" && cp -- "$AOT_OTHER" "$AOT_STALE" && touch -d @0 -- "$AOT_STALE" || exit 1; }
  MONO_LOG_LEVEL=debug MONO_LOG_MASK=aot "$AOT_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify \
    backup --database d --container c --out "$AOT_WORK/$name" >"$AOT_WORK/$name.log" 2>&1 \
    || { echo "backup ($name) failed: $(grep -v '^Mono:' "$AOT_WORK/$name.log" | tail -3)"; exit 1; }
  "$AOT_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify verify --from "$AOT_WORK/$name" --database d \
    >"$AOT_WORK/$name.verify" 2>&1 || { echo "verify ($name) failed: $(tail -3 "$AOT_WORK/$name.verify")"; exit 1; }
done
RUN
# System.Net.Http's image replaced by System's: the one every request runs through.
stale=$(printf '%s\n' "${assemblies[@]}" | grep '/System\.Net\.Http\.dll$').so
other=$(printf '%s\n' "${assemblies[@]}" | grep '/System\.dll$').so
[[ $stale != .so && $other != .so ]] || { fail "System.Net.Http or System not among: ${assemblies[*]}"; finish; }
replaced="$stale"   # from here on, the cleanup puts back whatever the run moved away
export AOT_HERE="$here" AOT_STALE="$stale" AOT_OTHER="$other"
if ! out=$("$here/scripted/with-scripted-server.sh" -- bash "$work/backup.sh" fresh stale 2>&1); then
  fail "backups: $(tail -3 <<<"$out")"; finish
fi

missing=()
for dll in "${assemblies[@]}"; do
  grep -qF "AOT: image '$dll.so' found." "$work/fresh.log" || missing+=("$(basename "$dll")")
done
[[ ${#missing[@]} == 0 ]] && pass "the tool loads the AOT images of ${#assemblies[@]} class libraries" \
  || fail "AOT images not loaded: ${missing[*]} (run scripts/aot-runtime-assemblies.sh as root)"
grep -qF "AOT: module $stale is unusable" "$work/stale.log" \
  && pass "a stale image ($(basename "$stale")) is refused" || fail "the stale image $stale was not refused"
! grep -qF "AOT: image '$stale' found." "$work/stale.log" || fail "the stale image $stale was used"
# Both backups were verified against the container above; the stale run's holds the same files.
fresh_files=$(cd "$work/fresh" && find . -type f | sort) stale_files=$(cd "$work/stale" && find . -type f | sort)
[[ -n $fresh_files && $fresh_files == "$stale_files" ]] \
  && pass "the backup with the stale image succeeds and verifies" || fail "backup files differ: [$fresh_files] against [$stale_files]"
finish
