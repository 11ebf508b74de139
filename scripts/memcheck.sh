#!/usr/bin/env bash
# Runs the test cases of the main test worlds under valgrind memcheck, each case in a
# process of its own, and fails on any valgrind error or test failure. Uses the normal
# build (build/, or $BUILD_DIR), building it first.
#   MEMCHECK_SELECT  regular expression on the test executable's path
#                    (default: the bridge, marshalling, library and platform tests)
#   MEMCHECK_JOBS    cases run at once (default: the number of cores)
# Logs: $BUILD_DIR/memcheck/<case>.<pid>.log, one per process.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
BUILD_DIR=$build_dir bash scripts/build.sh
select=${MEMCHECK_SELECT:-/tests/(bridge|marshal|library|platform)/}
jobs=${MEMCHECK_JOBS:-$(nproc)}
log_dir=$PWD/$build_dir/memcheck
rm -rf "$log_dir"

# No suppressions: the runtime runs clean under memcheck. Why each option is set:
# - --smc-check=all-non-file: the runtime writes and patches machine code in anonymous
#   memory; valgrind must notice, or it runs stale translations.
# - --leak-check=no: the runtime is never shut down, so its heap is all still held at exit;
#   leaks are the LeakSanitizer run's job (scripts/sanitize.sh).
# - --trace-children=yes: the library test runs the example host as a child process
#   (through the shell of popen, which is traced too so that its child is); system tools
#   the tests run (nm, readelf) are skipped, their own errors are not ours.
export MONO_CRASH_NOFILE=1
(cd "$build_dir" && ctest --show-only=json-v1) |
  python3 tests/sanitizers/memcheck_runner.py "$select" "$log_dir" "$jobs" \
    --smc-check=all-non-file --leak-check=no --num-callers=40 \
    --trace-children=yes --trace-children-skip='/usr/bin/*'
