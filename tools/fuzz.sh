#!/usr/bin/env bash
# Builds the input parser's fuzzer with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs it for a bounded time from the seeds.
#   tools/fuzz.sh [seconds]    default 60
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
out=build-fuzz
mkdir -p "$out/corpus"

clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I. tests/fuzz/InputParserFuzz.cpp midi/InputParser.cpp -o "$out/input_parser_fuzz"

# New inputs go to the build tree's corpus; the committed seeds stay as they are.
"$out/input_parser_fuzz" "$out/corpus" tests/fuzz/seeds \
  -max_total_time="$seconds" -artifact_prefix="$out/" -print_final_stats=1
