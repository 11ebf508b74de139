#!/usr/bin/env bash
# Runs a command against a fresh scripted test server after installing the node packages
# (HTTPS uses a certificate from one of them). See with-scripted-server.js.
# Usage: with-scripted-server.sh [SERVER OPTION...] -- COMMAND [ARG...]
#   e.g. with-scripted-server.sh --ranges 8 --ru-per-second 2000 -- ./my-test.sh
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
"$here/../install-deps.sh"
exec node "$here/with-scripted-server.js" "$@"
