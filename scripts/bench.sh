#!/usr/bin/env bash
# Builds (build-bench/, or $BENCH_BUILD_DIR; Release) and runs the bridge's cost figures:
# start-up of a one-call host against `mono` running an empty program, resident memory of a
# host over 1,000,000 calls, and per-call costs. Extra arguments go to the benchmark
# (e.g. --benchmark_filter=Startup, --benchmark_format=json).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DCLOUDSDK_BENCH=ON >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target bridge_bench
CLOUDSDK_HOME=$PWD/$build_dir/worlds/normal CLOUDSDK_LOG=/dev/null MONO_CRASH_NOFILE=1 \
  "$build_dir/bench/bridge/bridge_bench" "$@"
