#!/usr/bin/env bash
# Runs a command against a fresh local blob storage server (azurite, from package-lock.json):
# starts it in memory on a free port of 127.0.0.1 with an account of its own and a random key,
# exports STORAGE_ENDPOINT (http://127.0.0.1:PORT), STORAGE_ACCOUNT, AZURE_STORAGE_KEY and
# AZURITE_PID, runs the command, and stops the server whatever happens.
# Usage: with-azurite.sh COMMAND [ARG...]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

"$here/install-deps.sh"

export STORAGE_ACCOUNT=backupstore
AZURE_STORAGE_KEY="$(head -c 32 /dev/urandom | base64 -w0)"
export AZURE_STORAGE_KEY
source "$here/background-server.sh"
start_background_server azurite 's/.*successfully listens on http:\/\/127\.0\.0\.1:\([0-9]*\).*/\1/p' \
  env AZURITE_ACCOUNTS="$STORAGE_ACCOUNT:$AZURE_STORAGE_KEY" "$here/node_modules/.bin/azurite-blob" \
  --blobHost 127.0.0.1 --blobPort 0 --inMemoryPersistence --disableTelemetry --silent

export STORAGE_ENDPOINT="http://127.0.0.1:$port"
export AZURITE_PID="$server_pid"
"$@"
