#!/usr/bin/env bash
# The test suite under ASan+UBSan, then once under ThreadSanitizer, then each libFuzzer
# target for a bounded time from its seed corpus. Each build has its own folder
# (build-asan, build-tsan, build-fuzz) and builds only what it runs.
# FUZZ_SECONDS (default 60) bounds each fuzz target; JOBS the parallel jobs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${JOBS:-$(nproc)}
fuzz_seconds=${FUZZ_SECONDS:-60}
suppressions=$root/scripts/sanitizers

step() { echo "== ci-sanitizers: $* ($(date +%T))" >&2; }

configure() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DVANTREL_BUILD_BENCH=OFF "$@" >/dev/null
}

step "ASan+UBSan build"
configure build-asan -DVANTREL_SANITIZE=ON
cmake --build build-asan -j "$jobs"
step "ASan+UBSan tests"
# Only libx265's own allocations are exempt from leak checking (see lsan.supp).
ASAN_OPTIONS=check_initialization_order=1 \
  LSAN_OPTIONS=suppressions=$suppressions/lsan.supp:print_suppressions=0 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build-asan -j "$jobs" --output-on-failure -E '^layers[.]'

# (The layer checks read and compile headers only; the plain build runs them.)
# The engine's suites only: Qt is not built for ThreadSanitizer, so every window test
# reports its thread pool's own hand-offs (the font database's) as races; the window
# runs under ASan+UBSan above.
step "ThreadSanitizer build"
configure build-tsan -DVANTREL_TSAN=ON
cmake --build build-tsan -j "$jobs" --target parser_tests media_tests imaging_tests \
  exporter_tests cli_tests
step "ThreadSanitizer tests"
TSAN_OPTIONS="suppressions=$suppressions/tsan.supp halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan -j "$jobs" --output-on-failure -E '^(app|layers)[.]'

step "fuzz build"
CC=clang-14 CXX=clang++-14 configure build-fuzz -DVANTREL_FUZZ=ON -DBUILD_TESTING=OFF
targets=(cube_lut job bitrate)
cmake --build build-fuzz -j "$jobs" --target "${targets[@]/%/_fuzz}"
for target in "${targets[@]}"; do
  step "fuzz $target for ${fuzz_seconds}s"
  # New inputs go to the first folder; the committed seeds stay as they are.
  work=build-fuzz/corpus/$target
  mkdir -p "$work" build-fuzz/crashes
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "build-fuzz/fuzz/${target}_fuzz" -max_total_time="$fuzz_seconds" -timeout=10 \
    -rss_limit_mb=2048 -max_len=16384 -print_final_stats=1 -dict="fuzz/$target.dict" \
    -artifact_prefix="build-fuzz/crashes/$target-" "$work" "fuzz/corpus/$target"
done
step "done"
