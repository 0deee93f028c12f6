#!/usr/bin/env bash
# Builds and runs every test suite, each one whatever became of those before:
#   plain build      the host tests, then the ALSA tests on a real kernel
#                    sequencer in one qemu guest (tools/alsa-vm/)
#   AddressSanitizer + UndefinedBehaviorSanitizer: the same two
#   ThreadSanitizer  the engine tests (no window: Qt itself is not instrumented)
#   fuzzer           the input parser, for a bounded time (counts as one test)
# The closing line counts the tests of all of them, "N passed, M failed"; a
# suite that could not be built or run counts as one failed test. The exit
# status is 1 when anything failed.
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
passed=0 failed=0
recap=()

# A heading with the time since the start, to keep an eye on how long the whole takes.
stage() { printf '== %s [%d:%02d]\n' "$1" $((SECONDS / 60)) $((SECONDS % 60)); }

build() {  # dir, [--target T]..., extra cmake args...
  local dir=$1; shift
  local targets=()
  while [ "${1:-}" = --target ]; do targets+=(--target "$2"); shift 2; done
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null &&
    cmake --build "$dir" -j"$jobs" "${targets[@]}" -- --no-print-directory
}

not_run() {  # suite, why
  echo "!!!!! $1: DID NOT RUN: $2 (counted as a failure)"
  failed=$((failed + 1))
  recap+=("$(printf '%-22s did not run' "$1")")
}

count() {  # suite, ctest log, ctest's exit status
  local line f total
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$2" | tail -n 1)
  if [ -z "$line" ]; then
    not_run "$1" "ctest ran no test (exit status $3)"
    return
  fi
  f=${line#*passed, }; f=${f%% test*}
  total=${line##*out of }
  # ctest also fails without a failed test, e.g. when a test binary is missing.
  if [ "$f" = 0 ] && [ "$3" != 0 ]; then
    echo "!!!!! $1: ctest exited with $3 although no test failed (counted as a failure)"
    f=1 total=$((total + 1))
  fi
  passed=$((passed + total - f)) failed=$((failed + f))
  recap+=("$(printf '%-22s %d passed, %d failed' "$1" $((total - f)) "$f")")
}

host_suite() {  # suite, build dir, ctest args...
  local name=$1 dir=$2; shift 2
  local log=$dir/ctest-host.log
  (cd "$dir" && ctest --output-on-failure -j"$jobs" "$@") 2>&1 | tee "$log"
  count "$name" "$log" "${PIPESTATUS[0]}"
}

# The ALSA tests fail outside the guest by design; one boot runs them all.
guest_suite() {  # suite, build dir
  local name=$1 dir=$2
  local log=$dir/ctest-alsa.log
  ALSAVM_TIMEOUT=1200 tools/alsa-vm/run-in-vm.sh ctest --test-dir "$dir" --output-on-failure -L alsa 2>&1 |
    tee "$log"
  local rc=${PIPESTATUS[0]}
  if [ "$rc" = 124 ] || [ "$rc" = 125 ]; then
    local why
    why=$(grep '^run-in-vm: ' "$log" | tail -n 1)
    not_run "$name" "the qemu guest failed: ${why#run-in-vm: }"
    return
  fi
  count "$name" "$log" "$rc"
}

stage "plain build"
if build build; then
  host_suite "plain" build -LE alsa
  stage "plain build: ALSA tests in the qemu guest"
  guest_suite "plain, ALSA guest" build
else
  not_run "plain" "the build failed"
  not_run "plain, ALSA guest" "the build failed"
fi

stage "AddressSanitizer + UndefinedBehaviorSanitizer"
asan=detect_leaks=1 ubsan=print_stacktrace=1:halt_on_error=1
if build build-asan -DZUX_SANITIZE=address; then
  ASAN_OPTIONS=$asan UBSAN_OPTIONS=$ubsan host_suite "asan+ubsan" build-asan -LE alsa
  stage "AddressSanitizer + UndefinedBehaviorSanitizer: ALSA tests in the qemu guest"
  ASAN_OPTIONS=$asan UBSAN_OPTIONS=$ubsan guest_suite "asan+ubsan, ALSA guest" build-asan
else
  not_run "asan+ubsan" "the build failed"
  not_run "asan+ubsan, ALSA guest" "the build failed"
fi

stage "ThreadSanitizer"
if build build-tsan --target zux_engine_tests -DZUX_SANITIZE=thread; then
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 host_suite "tsan, engine" build-tsan -L engine
else
  not_run "tsan, engine" "the build failed"
fi

stage "fuzzer"
if tools/fuzz.sh; then
  passed=$((passed + 1))
  recap+=("$(printf '%-22s 1 passed, 0 failed' fuzzer)")
else
  echo "!!!!! fuzzer: FAILED (its output above)"
  failed=$((failed + 1))
  recap+=("$(printf '%-22s 0 passed, 1 failed' fuzzer)")
fi

stage "all suites"
printf '  %s\n' "${recap[@]}"
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
