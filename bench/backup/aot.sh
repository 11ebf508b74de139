#!/usr/bin/env bash
# Start-up with and without the class libraries' images compiled ahead of time
# (scripts/aot-runtime-assemblies.sh), side by side in one run on the scripted test server:
# user+sys CPU of `backup --page-size 100 --parallel 8` over 100 items (the fixed cost) and
# over ITEMS items (the difference per 10,000 items is the cost per item), with the images in
# place and with them moved away, interleaved in RUNS rounds; medians. The images are put back
# on any exit.
# Needs root (it moves files in the runtime's GAC).
# Usage: bench/backup/aot.sh BUILD_DIR [ITEMS=20000] [RUNS=5] [LATENCY_MS=15]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
e2e="$here/../../tests/e2e"
build="$(cd "${1:?usage: aot.sh BUILD_DIR [ITEMS] [RUNS] [LATENCY_MS]}" && pwd)"
export AOT_BUILD="$build" AOT_ITEMS="${2:-20000}" AOT_RUNS="${3:-5}" AOT_LATENCY="${4:-15}" AOT_E2E="$e2e"
export AOT_WORK="$(mktemp -d)" CLOUDSDK_LOG_LEVEL=0
mapfile -t images < <(bash "$here/../../scripts/aot-runtime-assemblies.sh" --list | sed 's/$/.so/')
for image in "${images[@]}"; do
  [[ -f $image ]] || { echo "no image $image: run scripts/aot-runtime-assemblies.sh as root" >&2; exit 1; }
done
printf '%s\n' "${images[@]}" >"$AOT_WORK/images"
put_back() {
  local image
  for image in "${images[@]}"; do
    [[ -f $AOT_WORK/held/$(basename "$image") ]] && mv -f -- "$AOT_WORK/held/$(basename "$image")" "$image"
  done
  rm -rf "$AOT_WORK"
}
trap put_back EXIT
trap 'exit 1' INT TERM HUP
mkdir "$AOT_WORK/held"

"$e2e/scripted/with-scripted-server.sh" --ranges 1 -- bash -c '
  set -euo pipefail
  ctl() { node -e "require(process.argv[1]).control(process.env.COSMOS_ENDPOINT, process.argv[2], process.argv[3] && JSON.parse(process.argv[3])).then((r) => console.log(JSON.stringify(r)))" "$AOT_E2E/scripted/client.js" "$@"; }
  cpu() { /usr/bin/time -f "%U %S" -o "$AOT_WORK/time" "$@" >/dev/null 2>>"$AOT_WORK/errors" && awk "{ printf \"%.3f\", \$1 + \$2 }" "$AOT_WORK/time"; }
  median() { tr " " "\n" | grep -v "^$" | sort -g | awk "{ v[NR] = \$1 } END { print v[int((NR + 1) / 2)] }"; }
  # images in|out: the images in the GAC or in $AOT_WORK/held
  images() { while IFS= read -r image; do
      if [[ $1 == out ]]; then mv -- "$image" "$AOT_WORK/held/"; else mv -- "$AOT_WORK/held/$(basename "$image")" "$image"; fi
    done <"$AOT_WORK/images"; }
  ctl config "{\"ranges\":1}" >/dev/null
  ctl seed "{\"db\":\"bench\",\"coll\":\"big\",\"count\":$AOT_ITEMS}" >/dev/null
  ctl seed "{\"db\":\"bench\",\"coll\":\"small\",\"count\":100}" >/dev/null
  ctl config "{\"latencyMs\":$AOT_LATENCY}" >/dev/null
  declare -A samples
  for round in $(seq "$AOT_RUNS"); do
    for setting in jit aot; do
      [[ $setting == jit ]] && images out
      for coll in small big; do
        out="$AOT_WORK/$setting-$coll-$round"
        samples[$setting.$coll]+=" $(cpu "$AOT_BUILD/bin/cosmos-backup" --insecure-skip-tls-verify backup --database bench --container "$coll" --out "$out" --page-size 100 --parallel 8)"
        rm -rf "$out"
      done
      [[ $setting == jit ]] && images in
    done
  done
  echo "items: $AOT_ITEMS (and 100), $AOT_LATENCY ms per request, median of $AOT_RUNS rounds; load average: $(cut -d" " -f1-3 /proc/loadavg)"
  printf "%-40s %12s %14s\n" "backup CPU seconds (user+sys)" "fixed (100)" "per 10k items"
  for setting in jit aot; do
    small=$(median <<<"${samples[$setting.small]}") big=$(median <<<"${samples[$setting.big]}")
    label="class libraries compiled by the JIT"; [[ $setting == aot ]] && label="class libraries precompiled (images)"
    printf "%-40s %12s %14s\n" "$label" "$small" "$(awk -v a="$big" -v b="$small" -v n="$AOT_ITEMS" "BEGIN { printf \"%.3f\", (a - b) * 10000 / (n - 100) }")"
    echo "  samples 100: ${samples[$setting.small]}; $AOT_ITEMS: ${samples[$setting.big]}"
  done
'
