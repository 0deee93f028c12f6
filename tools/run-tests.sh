#!/usr/bin/env bash
# Builds and runs every test: the plain build, then AddressSanitizer with
# UndefinedBehaviorSanitizer (the end-to-end tests included), then
# ThreadSanitizer (the parts without a window, since Qt itself is not
# instrumented), then the input parser's fuzzer for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

build() {  # dir, [--target T...], extra cmake args...
  local dir=$1; shift
  local targets=()
  while [ "${1:-}" = --target ]; do targets+=(--target "$2"); shift 2; done
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j"$jobs" "${targets[@]}" -- --no-print-directory
}

passed=0 failed=0
suite() {  # build dir, ctest args...: runs and counts the tests
  local dir=$1; shift
  local log="$dir/ctest-summary.log"
  (cd "$dir" && ctest --output-on-failure -j"$jobs" "$@") | tee "$log"
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  local f=${line#*passed, }; f=${f%% test*}
  local total=${line##*out of }
  passed=$((passed + total - f)); failed=$((failed + f))
}

echo "== plain build"
build build
suite build

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
build build-asan -DZUX_SANITIZE=address
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 suite build-asan

echo "== ThreadSanitizer"
build build-tsan --target zux_engine_tests -DZUX_SANITIZE=thread
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 suite build-tsan -L engine

if [ -x tools/fuzz.sh ]; then
  echo "== fuzzer"
  tools/fuzz.sh
fi

echo "== all suites"
echo "$passed passed, $failed failed"
