#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer
# under build-fuzz/ (or $FUZZ_BUILD_DIR) and runs each for FUZZ_SECONDS (default 20, the
# CI run). A longer run: FUZZ_SECONDS=3600 bash scripts/fuzz.sh [target...]
# Each target starts from its committed seeds (tests/fuzz/corpus/<target>) plus what
# earlier runs found (build-fuzz/corpus/<target>); a failing input is written to
# build-fuzz/artifacts/ and the script fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build_dir=${FUZZ_BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-20}
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_utf fuzz_text_crossing fuzz_string_list)

CC=clang CXX=clang++ cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" \
  -DCLOUDSDK_FUZZ=ON -DCLOUDSDK_SANITIZE=ON -DCLOUDSDK_BENCH=OFF >/dev/null
cmake --build "$build_dir" -j"$(nproc)" --target "${targets[@]}"

# Options as in scripts/sanitize.sh, except allow_user_segv_handler=0: ASan keeps SIGSEGV
# for itself, so a crash in native code is reported by ASan and libFuzzer writes the input
# that caused it. With the runtime's handler in place instead (measured), the process ends
# in the runtime's own crash report and abort, and the input is lost. The targets make no
# managed null dereference, the one thing the runtime needs that signal for.
export ASAN_OPTIONS=detect_stack_use_after_return=0:allow_user_segv_handler=0
export LSAN_OPTIONS=suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export MONO_CRASH_NOFILE=1
export CLOUDSDK_HOME=$root/$build_dir/worlds/normal
export CLOUDSDK_LOG=/dev/null

mkdir -p "$build_dir/artifacts"
for target in "${targets[@]}"; do
  corpus=$build_dir/corpus/$target
  mkdir -p "$corpus"
  echo "== $target: ${seconds} s"
  log=$build_dir/artifacts/$target.log
  if ! "$build_dir/tests/fuzz/$target" "$corpus" "tests/fuzz/corpus/$target" \
      -max_total_time="$seconds" -max_len=8192 -timeout=30 -rss_limit_mb=4096 \
      -artifact_prefix="$build_dir/artifacts/$target-" -print_final_stats=1 >"$log" 2>&1; then
    tail -60 "$log"
    echo "$target failed; the input is in $build_dir/artifacts/, the whole output in $log"
    exit 1
  fi
  grep -E '^(Done|stat::(number_of_executed_units|peak_rss_mb))' "$log"
done
