# What a cross build (cmake/toolchain-armhf.cmake) needs beyond compiling: the tests run
# under the emulator, and so must every ARM program they start.
#
# CORVID_TEST_ENVIRONMENT  ctest ENVIRONMENT of every test. In a cross build it holds
#   CORVID_EMULATOR, the emulator's command words separated by blanks
#   ("/usr/bin/qemu-arm -L /"): the bench harness puts them before the controller's
#   path when it starts it, since an ARM program cannot be exec'd here without
#   binfmt_misc. Natively it is empty.
# CORVID_BENCH_STANDIN, CORVID_BENCH_STANDIN_TARGET  the corvid-standin binary that
#   bench roots get, and the target that builds it. The controller runs its stand-ins
#   through /bin/sh, which is this machine's shell: in a cross build they are built for
#   this machine by a native build of the project in build-armhf/host (only that one
#   target), so they behave exactly as in a native build, argv[0] included.

set(CORVID_TEST_ENVIRONMENT "")
if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR)
  list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " _corvid_emulator)
  set(CORVID_TEST_ENVIRONMENT "CORVID_EMULATOR=${_corvid_emulator}")
endif()

# On ARM, GCC notes that the passing of some structures changed in GCC 7.1: everything
# here is built by one compiler, so the note says nothing and only hides real messages.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^arm" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options(-Wno-psabi)
endif()

if(CMAKE_CROSSCOMPILING)
  include(ExternalProject)
  set(_corvid_host_dir ${PROJECT_BINARY_DIR}/host)
  set(CORVID_BENCH_STANDIN ${_corvid_host_dir}/sim/corvid-standin)
  set(CORVID_BENCH_STANDIN_TARGET corvid_host_standin)
  # One compile at a time inside: the outer build already runs its own jobs beside it.
  ExternalProject_Add(corvid_host_standin
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${_corvid_host_dir}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVID_WERROR=${CORVID_WERROR}
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target corvid-standin -j 1
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${CORVID_BENCH_STANDIN}
    INSTALL_COMMAND ""
    EXCLUDE_FROM_ALL OFF)
else()
  set(CORVID_BENCH_STANDIN $<TARGET_FILE:corvid-standin>)
  set(CORVID_BENCH_STANDIN_TARGET corvid-standin)
endif()
