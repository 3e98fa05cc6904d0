#!/usr/bin/env bash
# Installs what the build for the unit (32-bit ARM, Debian armhf) needs, where missing:
# Debian's cross toolchain, qemu-arm to run the ARM test binaries on this machine, and
# the armhf development packages of every library the controller and the tests link.
# As root it runs dpkg and apt-get; otherwise it names what is missing and stops.
#
# The armhf -dev packages are "Multi-Arch: same": the armhf and the native copy must be
# of one version. When the archive has a newer build than the native copy installed
# here, both are installed in one apt-get call together with their native twins, so
# apt moves the pair in step instead of refusing the armhf one.
set -euo pipefail

arch=armhf

# Tools that run on this machine. qemu-user brings /usr/bin/qemu-arm; its recommended
# binfmt registration (qemu-user-binfmt) is not wanted: the tests call qemu-arm
# themselves, so they also run where binfmt_misc is missing.
tools=(crossbuild-essential-armhf qemu-user file cmake ninja-build make pkg-config)

# Libraries: what CMakeLists.txt asks pkg-config for, GoogleTest for the tests, and the
# C and C++ run-time that qemu-arm loads the programs with (libc6:armhf's loader, see
# cmake/toolchain-armhf.cmake).
libraries=(
  libfreetype-dev libpng-dev libusb-1.0-0-dev libasound2-dev libopus-dev libssl-dev
  libglib2.0-dev libgtest-dev libgmock-dev libcpp-httplib-dev libc6 libstdc++6
)

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

has_arch() {
  [ "$(dpkg --print-architecture)" = "$arch" ] ||
    dpkg --print-foreign-architectures | grep -qx "$arch"
}

missing=()
for p in "${tools[@]}"; do installed "$p" || missing+=("$p"); done
for p in "${libraries[@]}"; do installed "$p:$arch" || missing+=("$p:$arch"); done
if has_arch && [ ${#missing[@]} -eq 0 ]; then exit 0; fi

if [ "$(id -u)" -ne 0 ]; then
  has_arch || echo "dpkg does not know the $arch architecture: dpkg --add-architecture $arch" >&2
  [ ${#missing[@]} -eq 0 ] || echo "missing Debian packages: ${missing[*]}" >&2
  echo "run as root: $0" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if ! has_arch; then
  echo "adding the $arch architecture to dpkg"
  dpkg --add-architecture "$arch"
fi
apt-get update -qq

# Native twins of the armhf libraries, so that a version step moves both copies.
twins=()
for p in "${libraries[@]}"; do
  if [[ " ${missing[*]} " == *" $p:$arch "* ]]; then twins+=("$p"); fi
done
echo "installing: ${missing[*]}"
apt-get install -y -qq --no-install-recommends "${missing[@]}" "${twins[@]}"
