#!/usr/bin/env bash
# Runs a command against a fresh scripted test server: installs the node packages if needed,
# starts scripted/server.js with the given options on a free port of 127.0.0.1, exports
# COSMOS_ENDPOINT, COSMOS_KEY and COSMOS_SERVER_PID, runs the command, and stops the server
# whatever happens. The server's output goes to $SCRIPTED_SERVER_LOG when that is set.
# Usage: with-scripted-server.sh [SERVER OPTION...] -- COMMAND [ARG...]
#   e.g. with-scripted-server.sh --ranges 8 --ru-per-second 2000 -- ./my-test.sh
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

server_args=()
while [[ $# -gt 0 && "$1" != "--" ]]; do server_args+=("$1"); shift; done
[[ "${1:-}" == "--" ]] || { echo "usage: $0 [SERVER OPTION...] -- COMMAND [ARG...]" >&2; exit 2; }
shift

"$here/../install-deps.sh"

export COSMOS_KEY="${COSMOS_KEY:-C2y6yDjf5/R+ob0N8A7Cgv30VRDJIWEHLM+4QDU5DE2nQ9nDuVTqobD4b8mGGyPMbIZnqyMsEcaGQy67XIw/Jw==}"
log="${SCRIPTED_SERVER_LOG:-$(mktemp)}"
node "$here/server.js" --port 0 "${server_args[@]}" >"$log" 2>&1 &
server_pid=$!
stop_server() {
  if kill -0 "$server_pid" 2>/dev/null; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  [[ -n "${SCRIPTED_SERVER_LOG:-}" ]] || rm -f "$log"
}
trap stop_server EXIT

port=""
for _ in $(seq 1 100); do
  port="$(sed -n 's/^listening \([0-9]*\)$/\1/p' "$log")"
  [[ -n "$port" ]] && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$log" >&2; echo "scripted server did not start" >&2; exit 1; }
  sleep 0.1
done
[[ -n "$port" ]] || { echo "scripted server did not report its port" >&2; exit 1; }

scheme=https
for a in "${server_args[@]}"; do [[ "$a" == "--no-ssl" ]] && scheme=http; done
export COSMOS_ENDPOINT="$scheme://127.0.0.1:$port"
export COSMOS_SERVER_PID="$server_pid"
"$@"
