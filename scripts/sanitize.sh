#!/usr/bin/env bash
# Builds the library and every test with AddressSanitizer and UndefinedBehaviorSanitizer
# under build-asan/ (or $ASAN_BUILD_DIR) and runs the whole suite there. Extra arguments
# go to ctest (e.g. -R Utf). The end-to-end tests (label e2e) need local servers and are left
# out (they can be run here by hand: about two minutes more); the tool's file tests (label
# tool) run here.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build_dir=${ASAN_BUILD_DIR:-build-asan}

# -O1 -g1: a third of the compile time of -O2 -g, and enough for symbolized reports.
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" \
  -DCLOUDSDK_SANITIZE=ON -DCLOUDSDK_BENCH=OFF >/dev/null
cmake --build "$build_dir" -j"$(nproc)"

# Why each ASan option is set:
# - detect_stack_use_after_return=0: with fake stacks, locals live on ASan's heap where the
#   runtime's collector does not scan, so managed objects referenced only from native
#   locals are collected while still in use.
# - allow_user_segv_handler=1 (the default, pinned here): the runtime turns a managed null
#   dereference or division by zero into an exception through its own SIGSEGV/SIGFPE
#   handlers. With 0, ASan keeps those signals and a managed NullReferenceException kills
#   the process instead (measured: "AddressSanitizer: SEGV ... (<unknown module>)").
#   handle_segv stays at its default: ASan reports faults until the runtime starts, the
#   runtime's handler takes over after.
# - LeakSanitizer: the runtime is never shut down, so what it allocated is still held at
#   exit, reachable only through memory LSan does not scan; only allocations made inside
#   the runtime library are suppressed (tests/sanitizers/lsan.supp).
asan_options=detect_stack_use_after_return=0:allow_user_segv_handler=1
export LSAN_OPTIONS=suppressions=$root/tests/sanitizers/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export MONO_CRASH_NOFILE=1

# The resident-memory checks of the reliability tests are left out in this build (ASan's
# quarantine alone holds up to 256 MiB of freed blocks); the tests themselves still run.
cd "$build_dir"
ASAN_OPTIONS=$asan_options ctest --output-on-failure -j"$(nproc)" --timeout 900 -LE e2e "$@"
