#!/usr/bin/env bash
# Builds the benchmarks (optimised, in build-bench/) and prints their figures.
# RUNS sets the runs per figure (default 20). Not part of the tests: the
# figures depend on the machine and on what else runs on it.
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=${RUNS:-20}

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DZUX_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" --target zux_reception_latency_bench \
  zux_output_pacing_bench zux_pacing_bench zux_startup_bench zuxsim >/dev/null

scratch=$(mktemp -d)
pids=()
stop_children() {  # the last started first, so the server goes last
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null && wait "${pids[i]}" 2>/dev/null || true
  done
  pids=()
}
trap 'stop_children; rm -rf "$scratch"' EXIT
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$scratch}

echo "== machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "== reception: last byte of a dump to RECEIVE:completed (simulated port)"
build-bench/tools/zux_reception_latency_bench "$runs"
echo "== transmission of 65,536 bytes (simulated ports, engine API)"
build-bench/tools/zux_output_pacing_bench

if command -v jackd >/dev/null; then
  echo "== transmission of 65,536 bytes over JACK to the simulator (private jackd, engine API)"
  export JACK_DEFAULT_SERVER="zuxbench-$$"
  tools/private-jackd.sh "$JACK_DEFAULT_SERVER" >"$scratch/jackd.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do build-bench/zuxsim --probe && break; sleep 0.1; done
  for kind in hardware software; do
    flag=""; [ $kind = hardware ] && flag=--physical
    build-bench/zuxsim --name $kind $flag --receive-to "$scratch/$kind.syx" </dev/null \
      2>"$scratch/$kind.log" &
    pids+=($!)
    for _ in $(seq 100); do grep -q ready "$scratch/$kind.log" && break; sleep 0.1; done
  done
  build-bench/tools/zux_pacing_bench software:in "$scratch/software.syx" \
    hardware:in "$scratch/hardware.syx" || echo "(the JACK benchmark failed)"
  stop_children
  unset JACK_DEFAULT_SERVER
fi

echo "== start-up to window shown and peak memory (offscreen)"
build-bench/tools/zux_startup_bench "$runs"

if [ -x tools/alsa-vm/run-in-vm.sh ] && command -v qemu-system-x86_64 >/dev/null; then
  echo "== on the ALSA test guest's kernel sequencer (emulated CPU: ratios only)"
  tools/alsa-vm/run-in-vm.sh tools/bench/in-guest.sh "$runs" || echo "(the guest benchmark failed)"
fi
