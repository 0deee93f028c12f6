#!/usr/bin/env bash
# Builds and runs every test: the plain build, then AddressSanitizer with
# UndefinedBehaviorSanitizer, then ThreadSanitizer (the parts without a window,
# since Qt itself is not instrumented), then the input parser's fuzzer for a
# bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

build() {  # dir, extra cmake args...
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
}

echo "== plain build"
build build
(cd build && ctest --output-on-failure -j"$jobs")

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
build build-asan -DZUX_SANITIZE=address
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
   ctest --output-on-failure -j"$jobs" -LE e2e)

echo "== ThreadSanitizer"
build build-tsan -DZUX_SANITIZE=thread
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
   ctest --output-on-failure -j"$jobs" -L engine)

if [ -x tools/fuzz.sh ]; then
  echo "== fuzzer"
  tools/fuzz.sh
fi
