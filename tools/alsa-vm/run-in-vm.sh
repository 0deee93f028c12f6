#!/usr/bin/env bash
# run-in-vm.sh COMMAND [ARG]...
#
# Runs COMMAND in a throw-away qemu guest whose kernel (Debian 12's own) has a
# real ALSA sequencer:
#   client 14      "Midi Through", port "Midi Through Port-0"     (snd-seq-dummy)
#   clients 16..19 "Virtual Raw MIDI 0-N", port "VirMIDI 0-N",
#                  each backed by rawmidi hw:0,N (/dev/snd/midiC0DN) (snd-virmidi)
# The guest sees this machine's / read-only under a tmpfs overlay, so the
# binaries built here run there unchanged and whatever the command writes is
# thrown away. The working directory and the exported environment are kept,
# stdin is /dev/null, stdout and stderr come back apart as they are written,
# and the exit code is the command's. Its own: 124 timeout, 125 the guest
# failed (no qemu, no kernel, or a guest that did not run the command).
#
# The CPU is qemu's TCG: /dev/kvm, where there is one, cannot be relied on to
# run a stock kernel here. Boot, a trivial command and power-off take ~4 s.
#
# Settings:
#   ALSAVM_TIMEOUT       seconds for the whole run (default 900)
#   ALSAVM_BOOT_TIMEOUT  seconds for a boot to reach the command (default 60);
#                        a boot that does not is retried once
#   ALSAVM_APPEND        more kernel command line, e.g. module parameters as
#                        "snd_virmidi.midi_devs=2 snd_seq_dummy.ports=2"
#   ALSAVM_MEM, ALSAVM_CPUS  guest memory in MiB (1024) and CPUs (2)
#   ALSAVM_CACHE         kernel, initramfs and run folders (default build-alsavm/)
#   ALSAVM_VERBOSE=1     print the guest's console and the timings afterwards
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cache=${ALSAVM_CACHE:-$here/../../build-alsavm}
timeout_s=${ALSAVM_TIMEOUT:-900}
boot_s=${ALSAVM_BOOT_TIMEOUT:-60}

fail() { echo "run-in-vm: $*" >&2; exit 125; }

[ $# -gt 0 ] || { echo "usage: $0 COMMAND [ARG]..." >&2; exit 2; }
command -v qemu-system-x86_64 >/dev/null ||
  fail "qemu-system-x86_64 is missing (tools/install-deps.sh test installs it)"
mkdir -p "$cache" && cache=$(cd "$cache" && pwd) || fail "cannot create $cache"

if [ ! -f "$cache/vmlinux" ] || [ ! -f "$cache/initramfs.img" ] ||
   [ "$here/guest-init" -nt "$cache/initramfs.img" ] ||
   [ "$here/build-guest.sh" -nt "$cache/initramfs.img" ]; then
  # One build when several runs start at once; its messages only if it fails,
  # so that stderr stays the command's.
  (flock 9 && "$here/build-guest.sh" "$cache") 9> "$cache/build.lock" > "$cache/build.log" 2>&1 ||
    { cat "$cache/build.log" >&2; fail "could not build the guest (log above)"; }
fi

mkdir -p "$cache/runs"
run=$(mktemp -d "$cache/runs/run.XXXXXX")
case "$run" in *,*) fail "qemu cannot share a folder whose name has a comma: $run" ;; esac
qemu=
tails=()
cleanup() {
  [ -n "$qemu" ] && kill "$qemu" 2>/dev/null && wait "$qemu" 2>/dev/null
  for t in "${tails[@]}"; do kill "$t" 2>/dev/null; done
  rm -rf "$run"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# What the guest's bash runs: the environment, the folder, then the command.
{
  for name in $(compgen -e); do
    # (the guest's bash sets its own; SHELLOPTS and BASHOPTS are read-only there)
    case "$name" in PWD | OLDPWD | SHLVL | _ | SHELLOPTS | BASHOPTS | ALSAVM_*) continue ;; esac
    printf 'export %s=%q\n' "$name" "${!name}"
  done
  echo '[ -z "${XDG_RUNTIME_DIR:-}" ] || mkdir -p -m 0700 "$XDG_RUNTIME_DIR"'
  printf 'cd -- %q || exit 126\n' "$PWD"
  printf 'exec'
  printf ' %q' "$@"
  echo
} > "$run/cmd.sh"
: > "$run/stdout"
: > "$run/stderr"

boot() {
  timeout -k 10 "$timeout_s" qemu-system-x86_64 \
    -nodefaults -no-user-config -accel tcg,thread=multi -cpu max -machine q35 \
    -m "${ALSAVM_MEM:-1024}" -smp "${ALSAVM_CPUS:-2}" -display none -no-reboot \
    -kernel "$cache/vmlinux" -initrd "$cache/initramfs.img" \
    -append "console=ttyS0 quiet loglevel=4 panic=-1 ${ALSAVM_APPEND:-}" \
    -serial "file:$run/console.log" \
    -fsdev local,id=hostroot,path=/,security_model=none,readonly=on,multidevs=remap \
    -device virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot \
    -fsdev "local,id=runshare,path=$run,security_model=none,multidevs=remap" \
    -device virtio-9p-pci,fsdev=runshare,mount_tag=runshare \
    > "$run/qemu.log" 2>&1 < /dev/null &
  qemu=$!
}

# Under a loaded host a boot now and then stalls before the command starts:
# such a boot is stopped and tried once more.
start=$(date +%s.%N)
for attempt in 1 2; do
  boot
  for ((n = 0; n < boot_s * 10; n++)); do
    [ -e "$run/started" ] || ! kill -0 "$qemu" 2>/dev/null && break
    sleep 0.1
  done
  [ -e "$run/started" ] || ! kill -0 "$qemu" 2>/dev/null && break
  echo "run-in-vm: boot $attempt did not reach the command in $boot_s s; its console ends:" >&2
  tail -n 5 "$run/console.log" >&2
  kill "$qemu" 2>/dev/null
  wait "$qemu" 2>/dev/null
  qemu=
  [ "$attempt" = 2 ] && fail "the guest did not start the command in two boots"
  rm -f "$run/console.log" "$run/started"
done
started=$(date +%s.%N)

# tail ends by itself once qemu has ended and it has printed the rest.
tail -q -s 0.1 --pid="$qemu" -c +1 -f "$run/stdout" & tails+=($!)
tail -q -s 0.1 --pid="$qemu" -c +1 -f "$run/stderr" >&2 & tails+=($!)
wait "$qemu"
qemu_rc=$?
qemu=
for t in "${tails[@]}"; do wait "$t"; done
tails=()

if [ "${ALSAVM_VERBOSE:-0}" = 1 ]; then
  echo "---- guest console" >&2
  cat "$run/console.log" >&2
  awk -v s="$start" -v b="$started" -v e="$(date +%s.%N)" \
    'BEGIN { printf "run-in-vm: command started after %.2f s, guest ran %.2f s\n", b - s, e - s }' >&2
fi
if [ "$qemu_rc" = 124 ] || [ "$qemu_rc" = 137 ]; then
  echo "run-in-vm: stopped after $timeout_s s (ALSAVM_TIMEOUT)" >&2
  exit 124
fi
if [ ! -s "$run/rc" ]; then
  cat "$run/qemu.log" >&2
  tail -n 30 "$run/console.log" >&2
  fail "the guest ended without running the command to its end (qemu exit $qemu_rc; its console above)"
fi
exit "$(cat "$run/rc")"
