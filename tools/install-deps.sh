#!/usr/bin/env bash
# Installs the Debian packages the build, the bench and the tests need, where missing.
# As root it runs apt-get; otherwise it names what is missing and stops.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config file
  libfreetype-dev libpng-dev libusb-1.0-0-dev libasound2-dev libopus-dev libssl-dev
  libglib2.0-dev libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
  fonts-dejavu-core fonts-dejavu-extra fonts-paratype
  libfftw3-dev  # FFTW: the FFT benchmark's yardstick
  libumockdev-dev libumockdev0  # the bench's USB devices for the real USB library
  clang libclang-rt-14-dev  # the fuzz targets: libFuzzer with ASan and UBSan (make fuzz)
  libhamlib-utils  # rigctl: an independent FT-817 peer for the simulator's test
  chromium chromium-driver  # the bench's web view, driven by its browser test
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing Debian packages: ${missing[*]}" >&2
  echo "install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
