#!/usr/bin/env bash
# Runs a command against a fresh local test server: installs the node packages if needed,
# starts the fixture on a free port of 127.0.0.1, exports COSMOS_ENDPOINT and COSMOS_KEY,
# runs the command, and stops the server whatever happens.
# Usage: with-server.sh [--serverless] COMMAND [ARG...] (--serverless: the server answers like
# a serverless account)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

"$here/install-deps.sh"
server_args=()
if [[ "${1:-}" == --serverless ]]; then
  server_args+=(--serverless)
  shift
fi

export COSMOS_KEY="${COSMOS_KEY:-C2y6yDjf5/R+ob0N8A7Cgv30VRDJIWEHLM+4QDU5DE2nQ9nDuVTqobD4b8mGGyPMbIZnqyMsEcaGQy67XIw/Jw==}"
source "$here/background-server.sh"
start_background_server "test server" 's/^listening \([0-9]*\)$/\1/p' node "$here/fixture/server.js" --port 0 "${server_args[@]}"

export COSMOS_ENDPOINT="https://127.0.0.1:$port"
export COSMOS_SERVER_PID="$server_pid"
"$@"
