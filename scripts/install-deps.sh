#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running need. Idempotent: apt
# runs only when a package is missing. Run as root on Debian 12.
set -euo pipefail

packages=(
  # build
  build-essential cmake pkg-config binutils
  # the runtime: embedding headers, the runtime library, mcs and the class libraries
  libmono-2.0-dev libmono-2.0-1 mono-mcs
  libmono-system-net-http4.0-cil libmono-system-json4.0-cil libnewtonsoft-json5.0-cil
  # the backup tool: argument parsing, JSON, compression
  libcli11-dev nlohmann-json3-dev zlib1g-dev libssl-dev
  # tests and benchmarks
  libgtest-dev libbenchmark-dev valgrind python3
  # sanitizer and fuzzing builds
  clang libclang-rt-14-dev
)
# The local database server and the official SDK of the end-to-end test run on Node.js,
# which may come from elsewhere than Debian: it is enough that it runs.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  packages+=(nodejs npm)
fi
if [ -f "$(dirname "$0")/extra-packages.txt" ]; then
  mapfile -t extra < <(grep -v '^#' "$(dirname "$0")/extra-packages.txt" | tr ' ' '\n' | sed '/^$/d')
  packages+=("${extra[@]}")
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The class libraries the wrapper loads, compiled ahead of time beside them for a quicker
# start-up; never fails the installation (the runtime compiles them itself without images).
bash "$(dirname "$0")/aot-runtime-assemblies.sh"
