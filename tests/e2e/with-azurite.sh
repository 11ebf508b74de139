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
log="$(mktemp)"
AZURITE_ACCOUNTS="$STORAGE_ACCOUNT:$AZURE_STORAGE_KEY" "$here/node_modules/.bin/azurite-blob" \
  --blobHost 127.0.0.1 --blobPort 0 --inMemoryPersistence --disableTelemetry --silent >"$log" 2>&1 &
azurite_pid=$!
stop_azurite() {
  if kill -0 "$azurite_pid" 2>/dev/null; then
    kill "$azurite_pid" 2>/dev/null || true
    wait "$azurite_pid" 2>/dev/null || true
  fi
  rm -f "$log"
}
trap stop_azurite EXIT

for _ in $(seq 1 150); do
  port="$(sed -n 's/.*successfully listens on http:\/\/127\.0\.0\.1:\([0-9]*\).*/\1/p' "$log")"
  [[ -n "$port" ]] && break
  kill -0 "$azurite_pid" 2>/dev/null || { cat "$log" >&2; echo "azurite did not start" >&2; exit 1; }
  sleep 0.1
done
[[ -n "${port:-}" ]] || { echo "azurite did not report its port" >&2; exit 1; }

export STORAGE_ENDPOINT="http://127.0.0.1:$port"
export AZURITE_PID="$azurite_pid"
"$@"
