#!/usr/bin/env bash
# Makes the test guest's kernel and initramfs in the folder given (run-in-vm.sh
# calls it with build-alsavm/ when they are missing or older than this script
# or guest-init):
#   linux-image-*.deb  Debian's own kernel package, downloaded once and only
#                      unpacked, never installed
#   vmlinux            its kernel, uncompressed: qemu starts an ELF kernel
#                      straight at its PVH entry, with no boot loader and no
#                      decompression, which saves seconds under TCG
#   initramfs.img      busybox, guest-init as /init and the modules below
# Needs apt-get, dpkg-deb, depmod and modprobe (kmod), xz, gzip, busybox-static.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=${1:?usage: $0 OUTPUT_DIR}
mkdir -p "$out"
cd "$out"

# The modules the guest needs, in load order; modprobe adds what each depends on.
#   virtio_pci 9pnet_virtio 9p: the host's file system, shared by qemu
#   overlay: a writable tmpfs layer over that read-only root
#   snd-hrtimer: the sequencer's queue timer (the kernel cannot load it on
#                demand: the guest has no modprobe set-up)
#   snd-seq-dummy: client 14 "Midi Through"
#   snd-virmidi: card 0 with rawmidi hw:0,0..3, each a kernel client
#                16..19 "Virtual Raw MIDI 0-N"
modules=(virtio_pci 9pnet_virtio 9p overlay
         snd-timer snd-hrtimer snd-seq snd-seq-midi-event snd-seq-dummy
         snd-rawmidi snd-virmidi)

apt_update() {
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  echo "build-guest: apt-get update" >&2
  "${sudo[@]}" apt-get update -q >&2
}

# The versioned package the meta package points at, e.g. linux-image-6.1.0-28-amd64.
kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9]/ { print $2; exit }'
}

download() {
  local pkg
  pkg=$(kernel_package)
  [ -n "$pkg" ] || return 1
  # apt-get warns when it cannot hand the download to its sandbox user; harmless here.
  apt-get download -q "$pkg" 2>&1 | grep -v 'unsandboxed' >&2 || true
  compgen -G 'linux-image-*.deb' >/dev/null
}

if ! compgen -G 'linux-image-*.deb' >/dev/null; then
  # A fresh machine has no package lists, and stale lists name a kernel the
  # mirror no longer has: both are mended by one update.
  download || { apt_update && download; } ||
    { echo "build-guest: could not download Debian's kernel package" >&2; exit 1; }
fi
deb=$(ls linux-image-*.deb | head -n 1)

work=$(mktemp -d "$PWD/work.XXXXXX")
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work/pkg"
kver=$(basename "$(ls -d "$work"/pkg/lib/modules/*/ | head -n 1)")
# The package ships no modules.dep; modprobe below needs one.
depmod -b "$work/pkg" "$kver"

# Debian's vmlinuz holds the kernel as one xz stream after the set-up code.
vmlinuz=$work/pkg/boot/vmlinuz-$kver
offset=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$vmlinuz" | head -n 1 | cut -d: -f1)
[ -n "$offset" ] || { echo "build-guest: no xz stream in $vmlinuz" >&2; exit 1; }
tail -c +"$((offset + 1))" "$vmlinuz" > "$work/vmlinux.xz"
xz -dc --single-stream "$work/vmlinux.xz" > "$work/vmlinux"
[ "$(head -c 4 "$work/vmlinux" | od -An -tx1 | tr -d ' ')" = 7f454c46 ] ||
  { echo "build-guest: the unpacked kernel is not an ELF file" >&2; exit 1; }

root=$work/root
mkdir -p "$root/bin" "$root/lib/modules"
cp /bin/busybox "$root/bin/busybox"
install -m 755 "$here/guest-init" "$root/init"
moddir=$work/pkg/lib/modules/$kver/
order=$root/lib/modules/load-order
: > "$order"
for m in "${modules[@]}"; do
  # Lines "insmod PATH" in dependency order; "builtin NAME" needs nothing.
  modprobe -d "$work/pkg" -S "$kver" --show-depends "$m" | while read -r verb path _; do
    [ "$verb" = insmod ] || continue
    rel=${path#"$moddir"}
    grep -qxF "$rel" "$order" && continue
    mkdir -p "$root/lib/modules/$(dirname "$rel")"
    cp "$path" "$root/lib/modules/$rel"
    echo "$rel" >> "$order"
  done
done
(cd "$root" && find . -mindepth 1 | LC_ALL=C sort | busybox cpio -o -H newc -R 0:0 2>/dev/null) |
  gzip -1 > "$work/initramfs.img"

mv "$work/vmlinux" vmlinux
mv "$work/initramfs.img" initramfs.img
echo "build-guest: kernel $kver, $(wc -l < "$order") modules" >&2
