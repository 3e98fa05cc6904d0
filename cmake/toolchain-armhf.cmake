# Build for the unit: a Raspberry Pi 3 running a Debian armhf userland (32-bit ARM,
# hard float). Uses Debian's cross toolchain (crossbuild-essential-armhf) and the armhf
# -dev packages installed beside the native ones (multiarch); tools/install-cross-deps.sh
# installs both. Test binaries run on this machine through qemu-arm, so ctest and
# gtest_discover_tests work as in a native build.
#
#   cmake -S . -B build-armhf -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake
#
# The compiler's defaults are Debian armhf's (ARMv7-A, VFPv3-D16, Thumb-2), which the
# Pi 3 runs; no -mcpu is forced, so the binary also runs on any other armhf board.
# Debian 12 armhf has a 32-bit time_t and long: the default ABI is kept, since the
# system libraries (libusb's struct timeval, OpenSSL's time_t) are built for it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(CORVID_CROSS_TRIPLE arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${CORVID_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${CORVID_CROSS_TRIPLE}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${CORVID_CROSS_TRIPLE})

# Debian's multiarch layout: armhf libraries in /usr/lib/arm-linux-gnueabihf, the
# cross C library in /usr/arm-linux-gnueabihf. Libraries, headers and CMake packages
# (GTest) are looked up for the target; programs are this machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${CORVID_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
# Never the native copies: with a sysroot-less multiarch install, /usr/lib/x86_64-...
# is not searched anyway, but a stray PKG_CONFIG_PATH from the caller's shell would be.
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu)

# pkg-config for the target: Debian's wrapper (from pkgconf:armhf) knows the armhf
# search path; the variables below make plain pkg-config give the same answers.
find_program(CORVID_CROSS_PKG_CONFIG NAMES ${CORVID_CROSS_TRIPLE}-pkg-config)
if(CORVID_CROSS_PKG_CONFIG)
  set(PKG_CONFIG_EXECUTABLE ${CORVID_CROSS_PKG_CONFIG} CACHE FILEPATH "pkg-config for the target")
endif()
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${CORVID_CROSS_TRIPLE}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Running target binaries here. qemu-arm comes from Debian's qemu-user (qemu-arm-static
# from qemu-user-static works the same). -L names where qemu looks for the ARM dynamic
# loader (/lib/ld-linux-armhf.so.3). The armhf libraries the program loads all resolve
# to libc6:armhf's libc.so.6 in /lib/arm-linux-gnueabihf, so the loader must be that
# package's too: "/" (no remapping). The cross toolchain's copy under
# /usr/arm-linux-gnueabihf is an older glibc build (cross-toolchain-base is not rebuilt
# for stable updates); paired with the newer libc.so.6 it crashes every program that
# starts a thread (seen with 2.36-8cross1 against 2.36-9+deb12u14).
set(CORVID_QEMU_LD_PREFIX / CACHE PATH "qemu-arm -L: where the ARM dynamic loader is found")
find_program(CORVID_QEMU_ARM NAMES qemu-arm qemu-arm-static)
if(NOT CORVID_QEMU_ARM)
  # The test binaries are listed by running them (gtest_discover_tests) as they are built.
  message(FATAL_ERROR "qemu-arm not found: tools/install-cross-deps.sh installs it")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${CORVID_QEMU_ARM} -L ${CORVID_QEMU_LD_PREFIX})
