#!/usr/bin/env bash
# Builds the input parser's fuzzer with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs it for a bounded time from the seeds.
#   tools/fuzz.sh [seconds]    default 60
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
out=build-fuzz
mkdir -p "$out/corpus"

cmake -S . -B "$out" -DZUX_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$out" --target zux_input_parser_fuzz -- --no-print-directory >/dev/null

# New inputs go to the build tree's corpus; the committed seeds stay as they are.
"$out/tests/fuzz/zux_input_parser_fuzz" "$out/corpus" tests/fuzz/seeds \
  -max_total_time="$seconds" -artifact_prefix="$out/" -print_final_stats=1
