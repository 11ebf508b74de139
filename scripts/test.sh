#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: the normal build, then the whole
# suite again under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/), then a
# short run of each fuzz target (build-fuzz/). Ends with one summary line.
set -euo pipefail
cd "$(dirname "$0")/.."
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

# How many tests a ctest run ran; reaching the summary means every stage passed (each
# stops this script on a failure).
tests_in() { grep -oP '(?<=tests failed out of )\d+' "$1" | tail -1; }

bash scripts/install-deps.sh
bash scripts/build.sh
(cd build && ctest --output-on-failure -j"$(nproc)" --timeout 600) | tee "$logs/normal"
bash scripts/sanitize.sh | tee "$logs/sanitized"
FUZZ_SECONDS=${FUZZ_SECONDS:-20} bash scripts/fuzz.sh | tee "$logs/fuzz"

fuzz_targets=$(grep -c '^== fuzz_' "$logs/fuzz" || true)
total=$(( $(tests_in "$logs/normal") + $(tests_in "$logs/sanitized") + fuzz_targets ))
echo "tests: $total passed, 0 failed"
