# Helpers of the benchmarks that run against the scripted test server; sourced inside the
# server's wrapper, where COSMOS_ENDPOINT, BENCH_E2E and BENCH_WORK are set.

# ctl PATH [JSON]: one request to the server's control API; its answer as JSON.
ctl() {
  node -e "require(process.argv[1]).control(process.env.COSMOS_ENDPOINT, process.argv[2], process.argv[3] && JSON.parse(process.argv[3])).then((r) => console.log(JSON.stringify(r)))" \
    "$BENCH_E2E/scripted/client.js" "$@"
}

now() { date +%s.%N; }

# measure NAME FIELDS CMD...: runs CMD (its output in BENCH_WORK/NAME.out and .err); prints NAME,
# its seconds, the RU the server charged and the server's counters named in FIELDS (a comma list).
measure() {
  local name=$1 fields=$2 start stats
  shift 2
  ctl stats/reset >/dev/null
  start=$(now)
  "$@" >"$BENCH_WORK/$name.out" 2>"$BENCH_WORK/$name.err"
  stats=$(ctl stats)
  node -e "const s = JSON.parse(process.argv[1]);
    const counters = process.argv[5].split(\",\").map((f) => s[f]);
    console.log([process.argv[2], (process.argv[4] - process.argv[3]).toFixed(2), s.ru.toFixed(1), ...counters].join(\" \"))" \
    "$stats" "$name" "$start" "$(now)" "$fields"
}
