#!/bin/bash
# Checks zuxsim --alsa on a kernel sequencer with 64 KiB dumps, by hand: it
# needs /dev/snd/seq with snd-seq-dummy (client 14) and snd-virmidi (client
# 16, rawmidi hw:0,0) loaded, and alsa-utils and xxd. In a throw-away VM:
#   tools/zuxsim/alsa-check.sh PATH/TO/zuxsim
# Exit status 0 when every check passed.
set -u
shopt -s nullglob
SIM=$(realpath "$1")
cd "$(mktemp -d)" || exit 1
failed=0
{ printf '\360\175\020\176'; head -c 65531 /dev/urandom | tr '\200-\377' '\000-\177'; printf '\367'; } >dump.syx

sim() { local name=$1; shift; "$SIM" --alsa --name "$name" "$@" </dev/null 2>"$name.log" & eval "pid_$name=$!"; }
waitfor() {  # FILE PATTERN [SECONDS]
    local i
    for ((i = 0; i < ${3:-60} * 10; i++)); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
    return 1
}
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f s", b - a }'; }
# NAME... : quits each with SIGTERM and expects exit status 0.
stop() { local n p; for n; do p=pid_$n; kill "${!p}"; wait "${!p}" || { echo "  $n exited with $?"; failed=1; }; done; }
verdict() {  # COMMAND... (the check's name is in $T)
    if "$@"; then echo "ok   $T"; else echo "FAIL $T"; failed=1; fi
    for f in *.log; do sed "s/^/  $f: /" "$f" | grep -v ": ready"; done
    rm -f ./*.log
}
same() { cmp -s dump.syx "$1" || { echo "  $1: $(stat -c %s "$1" 2>/dev/null || echo 0) bytes, not the dump"; return 1; }; }

T="probe"
verdict "$SIM" --alsa --probe

# One dump from tx:out to rx:in on connection, OPTIONS for rx and tx; true
# when the outcome is honest: "sent" only if every byte arrived, else an
# overrun at the receiver.
transfer() {  # RX-OPTIONS TX-OPTIONS
    sim rx --receive-to rx.syx $1; sim tx --send dump.syx --send-on-connect $2
    waitfor rx.log ready && waitfor tx.log ready
    local t0; t0=$(now); aconnect tx:0 rx:1; waitfor tx.log "sent\|failed"; took=$(since "$t0")
    sleep 1; stop tx rx
    if grep -q "sent 65536" tx.log; then same rx.syx; else grep -q overrun rx.log; fi
}

for rxopt in "" "--input-pool 2000"; do
    T="5 unpaced sends, receiver ${rxopt:-with its default pool}: honest each time"
    whole=0 honest=true
    for _ in 1 2 3 4 5; do
        transfer "$rxopt" "" || honest=false
        grep -q "sent 65536" tx.log && whole=$((whole + 1))
        echo "  $(grep -h "sent\|failed\|overrun" tx.log rx.log | sort -u | tr '\n' ' ')($took)"
        rm -f ./*.log
    done
    echo "  $whole of 5 arrived whole"
    verdict $honest
done

T="paced 3125, default pool: arrives whole"
transfer "" "--pace 3125"; echo "  $took"
verdict grep -q "sent 65536" tx.log

T="SIGUSR1, through Midi Through to aseqdump, paced 31250"
aseqdump -p 14:0 >dump.txt & dumper=$!
sim tx --send dump.syx --pace 31250; waitfor tx.log ready
aconnect tx:0 14:0; t0=$(now); kill -USR1 "$pid_tx"; waitfor tx.log "sent\|failed"; echo "  $(since "$t0")"
sleep 1; stop tx; kill $dumper
grep -o 'System exclusive.*' dump.txt | cut -c 18- | xxd -r -p >aseqdump.syx
verdict same aseqdump.syx

T="bytes written to rawmidi hw:0,0 reach in through VirMIDI 0-0, short messages too"
printf '\220\074\144\200\074\000\260\007\177\300\005\340\000\100\370' >mixed.syx; cat dump.syx >>mixed.syx
sim rx --receive-to rx.syx --input-pool 2000; waitfor rx.log ready
aconnect 16:0 rx:1; t0=$(now); amidi -p hw:0,0 -s mixed.syx
for _ in $(seq 100); do [ "$(stat -c %s rx.syx)" -ge "$(stat -c %s mixed.syx)" ] && break; sleep 0.1; done
echo "  $(since "$t0")"; stop rx
verdict cmp mixed.syx rx.syx

T="slow reader: the receiver reports the overrun, the sender fails"
transfer "--slow-reader 200" ""; echo "  $took; received $(stat -c %s rx.syx) bytes"
verdict grep -q "sending failed" tx.log

exit $failed
