#!/usr/bin/env bash
# The memory an increment's key comparison needs per item of the container, side by side in one
# run: the tool's (compact key sets, the parent's key file streamed, merges streamed) and the same
# comparison with a vector of strings per set and materialised unions (the tool's earlier way).
# Each is a process of its own; the figure is its peak resident size minus its size before.
# Usage: bench/backup/key-memory.sh BUILD_DIR [ITEMS=1000000]
set -euo pipefail
build="$(cd "${1:?usage: key-memory.sh BUILD_DIR [ITEMS]}" && pwd)"
items=${2:-1000000}
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
bench="$build/bench/backup/key_comparison_bench"
"$bench" prepare "$items" "$work" >/dev/null
"$bench" tool "$items" "$work"
"$bench" strings "$items" "$work"
cmp -s <(zcat "$work/tool/keys.jsonl.gz") <(zcat "$work/strings/keys.jsonl.gz") &&
  cmp -s <(zcat "$work/tool/deletions.jsonl.gz") <(zcat "$work/strings/deletions.jsonl.gz") &&
  echo "both wrote the same key files" || { echo "the key files differ"; exit 1; }
