#!/usr/bin/env bash
# Installs the pinned node packages (the test server and the official SDK) unless the
# installed set already matches package-lock.json.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
stamp="$here/node_modules/.package-lock.json"
if [[ ! -f "$stamp" || "$here/package-lock.json" -nt "$stamp" ]]; then
  (cd "$here" && npm ci --no-audit --no-fund --loglevel=error >&2)
fi
