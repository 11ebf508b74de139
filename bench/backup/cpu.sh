#!/usr/bin/env bash
# Processor time per item, side by side in one run on the scripted test server (one range,
# LATENCY_MS per request): user+sys CPU of each program over a container of ITEMS items and of
# one of 100 items; the difference per 10,000 items is the cost per item, the 100-item figure
# the fixed cost (process, runtime, connection, metadata, files).
#   - backup --parallel 8 (eight sub-ranges) against the raw REST reader with 8 sub-ranges
#     (`raw-reader.js subranges`, nothing but the reads);
#   - restore --parallel 8 of those backups;
#   - with OTHER_BUILD, the same tool commands of that build too (before/after in one run).
# Each figure is the median of RUNS rounds; the rounds interleave the programs.
# Usage: bench/backup/cpu.sh BUILD_DIR [ITEMS=50000] [LATENCY_MS=15] [PAGE_SIZE=100] [RUNS=3] [OTHER_BUILD]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
e2e="$here/../../tests/e2e"
build="$(cd "${1:?usage: cpu.sh BUILD_DIR [ITEMS] [LATENCY_MS] [PAGE_SIZE] [RUNS] [OTHER_BUILD]}" && pwd)"
other="${6:-}"
[[ -n "$other" ]] && other="$(cd "$other" && pwd)"
export BENCH_BUILD="$build" BENCH_OTHER="$other" BENCH_ITEMS="${2:-50000}" BENCH_LATENCY="${3:-15}" BENCH_PAGE="${4:-100}"
export BENCH_RUNS="${5:-3}" BENCH_HERE="$here" BENCH_E2E="$e2e" BENCH_WORK="$(mktemp -d)" CLOUDSDK_LOG_LEVEL=0
trap 'rm -rf "$BENCH_WORK"' EXIT

"$e2e/scripted/with-scripted-server.sh" --ranges 1 -- bash -c '
  set -euo pipefail
  ctl() { node -e "require(process.argv[1]).control(process.env.COSMOS_ENDPOINT, process.argv[2], process.argv[3] && JSON.parse(process.argv[3])).then((r) => console.log(JSON.stringify(r)))" "$BENCH_E2E/scripted/client.js" "$@"; }
  # cpu COMMAND...: the user+sys seconds of the command and its children
  cpu() { /usr/bin/time -f "%U %S" -o "$BENCH_WORK/time" "$@" >/dev/null 2>>"$BENCH_WORK/errors" && awk "{ printf \"%.3f\", \$1 + \$2 }" "$BENCH_WORK/time"; }
  median() { tr " " "\n" | grep -v "^$" | sort -g | awk "{ v[NR] = \$1 } END { print v[int((NR + 1) / 2)] }"; }
  ctl config "{\"ranges\":1}" >/dev/null
  ctl seed "{\"db\":\"bench\",\"coll\":\"big\",\"count\":$BENCH_ITEMS}" >/dev/null
  ctl seed "{\"db\":\"bench\",\"coll\":\"small\",\"count\":100}" >/dev/null
  ctl config "{\"latencyMs\":$BENCH_LATENCY}" >/dev/null
  builds=("$BENCH_BUILD"); names=(tool)
  [[ -n "$BENCH_OTHER" ]] && { builds+=("$BENCH_OTHER"); names+=(other); }
  declare -A samples
  n=0
  for round in $(seq "$BENCH_RUNS"); do
    for coll in big small; do
      samples[raw.$coll]+=" $(cpu node "$BENCH_HERE/raw-reader.js" subranges bench "$coll" "$BENCH_PAGE" 8)"
      for b in "${!builds[@]}"; do
        tool=("${builds[$b]}/bin/cosmos-backup" --insecure-skip-tls-verify)
        out="$BENCH_WORK/${names[$b]}-$coll-$round"
        samples[${names[$b]}.backup.$coll]+=" $(cpu "${tool[@]}" backup --database bench --container "$coll" --out "$out" --page-size "$BENCH_PAGE" --parallel 8)"
        n=$((n + 1))
        samples[${names[$b]}.restore.$coll]+=" $(cpu "${tool[@]}" restore --from "$out" --database bench --container "r$n" --parallel 8)"
      done
    done
  done
  per10k() { awk -v a="$1" -v b="$2" -v n="$BENCH_ITEMS" "BEGIN { printf \"%.3f\", (a - b) * 10000 / (n - 100) }"; }
  echo "tool: $BENCH_BUILD${BENCH_OTHER:+; other: $BENCH_OTHER}"
  echo "items: $BENCH_ITEMS (and 100), $BENCH_LATENCY ms per request, page size $BENCH_PAGE, median of $BENCH_RUNS rounds; load average: $(cut -d" " -f1-3 /proc/loadavg)"
  raw_big=$(median <<<"${samples[raw.big]}"); raw_small=$(median <<<"${samples[raw.small]}")
  raw=$(per10k "$raw_big" "$raw_small")
  printf "%-44s %14s %12s\n" "CPU seconds (user+sys)" "per 10k items" "fixed (100)"
  printf "%-44s %14s %12s\n" "raw reader, 8 sub-ranges" "$raw" "$raw_small"
  for name in "${names[@]}"; do
    for what in backup restore; do
      big=$(median <<<"${samples[$name.$what.big]}"); small=$(median <<<"${samples[$name.$what.small]}")
      per=$(per10k "$big" "$small")
      ratio=""
      [[ $what == backup ]] && ratio=$(awk -v p="$per" -v r="$raw" "BEGIN { printf \"  %.2fx the raw reader\", p / r }")
      printf "%-44s %14s %12s%s\n" "$name $what" "$per" "$small" "$ratio"
    done
  done
  if [[ -n "$BENCH_OTHER" ]]; then
    # The two builds backed up the same items: their data and key files must hold the same lines.
    digest() { (cd "$1" && for f in $(ls *.jsonl.gz | sort); do echo "$f $(gzip -dc "$f" | md5sum | cut -d" " -f1)"; done); }
    for coll in big small; do
      if [[ "$(digest "$BENCH_WORK/tool-$coll-1")" == "$(digest "$BENCH_WORK/other-$coll-1")" ]]; then
        echo "$coll: data and key files of both builds hold the same bytes ($(ls "$BENCH_WORK/tool-$coll-1"/*.jsonl.gz | wc -l) files)"
      else
        echo "$coll: the builds wrote DIFFERENT data or key files"
      fi
    done
  fi
  echo "all samples:"; for k in "${!samples[@]}"; do echo "  $k:${samples[$k]}"; done | sort
'
