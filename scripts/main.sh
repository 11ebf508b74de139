#!/usr/bin/env bash
# The main job: installs what is needed, builds, runs the example host against the test
# double, then backs up and restores a container and a whole account on a local Cosmos
# DB-compatible server, to and from a local directory and a local blob storage server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
echo "== example host: every bridge method against the managed test double"
CLOUDSDK_HOME="$PWD/build/worlds/normal" CLOUDSDK_LOG="$PWD/build/example-host.log" build/bin/example-host
if [ -x tests/e2e/roundtrip.sh ]; then
  echo "== backup and restore round trip on the local server"
  tests/e2e/roundtrip.sh "$PWD/build"
fi
if [ -x tests/e2e/account-roundtrip.sh ]; then
  echo "== a whole account (three databases, one with shared throughput) backed up and restored in one command each"
  tests/e2e/account-roundtrip.sh "$PWD/build"
fi
if [ -x tests/e2e/blob-roundtrip.sh ]; then
  echo "== backup to and restore from blob storage on a local storage server"
  tests/e2e/blob-roundtrip.sh "$PWD/build"
fi
