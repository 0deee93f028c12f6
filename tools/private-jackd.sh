#!/usr/bin/env bash
# Runs a private JACK server called $1 on the dummy driver, which needs no
# sound hardware: for the tests, the demo of `make run` and the benchmarks.
# Large periods: a small shared machine misses short cycles, and a missed
# cycle drops its MIDI data. A long client timeout: under load the server
# would otherwise drop a client that answers late, and its data with it.
exec jackd -n "$1" -t 10000 -d dummy -r 48000 -p 2048
