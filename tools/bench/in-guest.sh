#!/usr/bin/env bash
# The ALSA figures, on the test guest's kernel sequencer (run by run.sh as
# tools/alsa-vm/run-in-vm.sh tools/bench/in-guest.sh RUNS). The guest's CPU is
# emulated, so only ratios mean anything.
set -euo pipefail
cd "$(dirname "$0")/../.."
runs=${1:-10}
scratch=$(mktemp -d)
trap 'kill %1 2>/dev/null || true; rm -rf "$scratch"' EXIT

echo "== transmission of 65,536 bytes to VirMIDI 0-2, read from its rawmidi device (engine API)"
# Reading from the start: virmidi drops events until its rawmidi side has been read.
cat /dev/snd/midiC0D2 >"$scratch/virmidi.syx" &
sleep 0.5
build-bench/tools/zux_pacing_bench "VirMIDI 0-2" "$scratch/virmidi.syx"

echo "== reception on ALSA: last byte down VirMIDI 0-1's cable to RECEIVE:completed"
build-bench/tools/zux_reception_latency_bench "$runs" alsa
