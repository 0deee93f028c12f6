#!/usr/bin/env bash
# Builds the benchmarks (optimised, in build-bench/) and prints their figures.
# RUNS sets the runs per figure (default 20). Not part of the tests: the
# figures depend on the machine and on what else runs on it.
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=${RUNS:-20}

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DZUX_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" --target zux_reception_latency_bench \
  zux_output_pacing_bench zux_startup_bench >/dev/null

export QT_QPA_PLATFORM=offscreen
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  XDG_RUNTIME_DIR=$(mktemp -d)
  export XDG_RUNTIME_DIR
  trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
fi

echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "== reception: last byte of a dump to RECEIVE:completed (simulated port)"
build-bench/tools/zux_reception_latency_bench "$runs"
echo "== transmission of 65,536 bytes (simulated ports, engine API)"
build-bench/tools/zux_output_pacing_bench
echo "== start-up to window shown and peak memory (offscreen)"
build-bench/tools/zux_startup_bench "$runs"
