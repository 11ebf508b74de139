#!/usr/bin/env bash
# Installs the pinned node packages (the test server and the official SDK) unless the
# installed set already matches package-lock.json. Tests may call this at the same time, so
# the check and the install run under a lock.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
exec 9>"${TMPDIR:-/tmp}/cloudsdk-e2e-npm.lock"
flock 9
stamp="$here/node_modules/.package-lock.json"
if [[ ! -f "$stamp" || "$here/package-lock.json" -nt "$stamp" ]]; then
  (cd "$here" && npm ci --no-audit --no-fund --loglevel=error >&2)
fi
