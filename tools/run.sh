#!/usr/bin/env bash
# Starts the program. On a machine with no MIDI system at all (no ALSA
# sequencer, no JACK server answering) it first starts a private JACK server
# and the sequencer simulator, so RECEIVE and TRANSMIT can be tried at once;
# both are stopped when the program exits.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -r /dev/snd/seq ] && [ -w /dev/snd/seq ]; then exec build/zuxfiler; fi
if build/zuxsim --probe; then exec build/zuxfiler; fi
if ! command -v jackd >/dev/null; then
  echo "No MIDI system found and jackd is not installed: starting without MIDI ports." >&2
  exec build/zuxfiler
fi

demo=$(mktemp -d)
export JACK_DEFAULT_SERVER="zuxdemo-$$"
jackd_pid="" sim_pid=""
finish() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
  [ -n "$jackd_pid" ] && kill "$jackd_pid" 2>/dev/null && wait "$jackd_pid" 2>/dev/null || true
  if [ -s "$demo/received.syx" ]; then
    echo "The simulated sequencer received $(wc -c <"$demo/received.syx") bytes." >&2
  fi
  rm -rf "$demo"
}
trap finish EXIT

tools/private-jackd.sh "$JACK_DEFAULT_SERVER" >"$demo/jackd.log" 2>&1 &
jackd_pid=$!
for _ in $(seq 100); do build/zuxsim --probe && break; sleep 0.1; done
if ! build/zuxsim --probe; then
  echo "The private JACK server did not start; see its log:" >&2
  cat "$demo/jackd.log" >&2
  exit 1
fi

# A small dump: one SysEx, F0 7D 10 7E, 996 data bytes, F7.
{ printf '\360\175\020\176'; head -c 996 /dev/zero | tr '\000' '\125'; printf '\367'; } >"$demo/demo.syx"
build/zuxsim --name "ZUX sequencer" --send "$demo/demo.syx" --send-on-connect --pace wire \
  --receive-to "$demo/received.syx" </dev/null 2>"$demo/zuxsim.log" &
sim_pid=$!
echo "No MIDI system found: a simulated ZUX sequencer is running on a private JACK server." >&2
echo "RECEIVE from \"ZUX sequencer:out\" gets a 1,000-byte demo dump; TRANSMIT to \"ZUX sequencer:in\"." >&2
build/zuxfiler
