#!/usr/bin/env bash
# Installs the Debian packages a purpose needs, when they are missing.
#   tools/install-deps.sh run    build and run the program
#   tools/install-deps.sh test   build and run the tests (sanitizers, fuzzer, JACK end to end,
#                                and the ALSA tests in a qemu guest: tools/alsa-vm/)
set -euo pipefail

build=(cmake make g++ pkg-config qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins
       libasound2-dev libjack-jackd2-dev fonts-ipafont-gothic)
run=(jackd2)
test=(jackd2 googletest libgtest-dev clang libclang-rt-14-dev xauth xvfb dbus-daemon
      desktop-file-utils appstream groff-base qemu-system-x86 busybox-static kmod xz-utils)

want=("${build[@]}")
case "${1:-run}" in
  run) want+=("${run[@]}") ;;
  test) want+=("${test[@]}") ;;
  *) echo "usage: $0 run|test" >&2; exit 2 ;;
esac

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
