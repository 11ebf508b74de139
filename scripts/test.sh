#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: the normal build, then the whole
# suite again under AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/), then a
# short run of each fuzz target (build-fuzz/).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
(cd build && ctest --output-on-failure -j"$(nproc)" --timeout 600)
bash scripts/sanitize.sh
FUZZ_SECONDS=${FUZZ_SECONDS:-20} bash scripts/fuzz.sh
