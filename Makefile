# make run   - the controller on the bench (installs, configures and builds first)
# make test  - the whole test suite
# make cross      - the build for the unit (32-bit ARM, Debian armhf) in build-armhf
# make test-cross - the test suite of that build, run under qemu-arm
JOBS      ?= $(shell nproc)
BUILD     ?= build
ASAN      ?= build-asan
TSAN      ?= build-tsan
CROSS     ?= build-armhf
FUZZ      ?= build-fuzz
# Seconds each fuzz target runs in `make fuzz`.
FUZZ_SECONDS ?= 60
# `make soak`: the bench under load for SOAK_SECONDS in the sanitizer build SOAK_BUILD
# (build-tsan: ThreadSanitizer; a name with "asan": AddressSanitizer and UBSan), its
# report in SOAK_REPORT (tools/soak.sh).
SOAK_SECONDS ?= 600
SOAK_BUILD   ?= build-tsan
SOAK_REPORT  ?= $(SOAK_BUILD)/soak-report.txt
SOAK_SANITIZE = $(if $(findstring asan,$(SOAK_BUILD)),address$(comma)undefined,thread)
comma := ,
# Tests of the armhf build: every test (see tools/install-cross-deps.sh and
# cmake/toolchain-armhf.cmake); narrow with e.g. CROSS_TESTS='-L unit'.
CROSS_TESTS ?=
CMAKE_ARGS ?=

.PHONY: all deps build run test test-sanitize test-tsan bench clean cross-deps cross test-cross clean-cross fuzz soak

all: build

deps:
	@tools/install-deps.sh

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVID_WERROR=ON $(CMAKE_ARGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/sim/corvid-bench --corvid $(BUILD)/app/corvid --dir bench-root

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Unit and bench tests under AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	cmake -S . -B $(ASAN) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCORVID_WERROR=ON \
	  -DCORVID_SANITIZE=address,undefined $(CMAKE_ARGS)
	cmake --build $(ASAN) -j $(JOBS)
	cd $(ASAN) && ctest --output-on-failure -j $(JOBS)

# The bench scenarios (and the thread tests) under ThreadSanitizer.
test-tsan: deps
	cmake -S . -B $(TSAN) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCORVID_WERROR=ON \
	  -DCORVID_SANITIZE=thread $(CMAKE_ARGS)
	cmake --build $(TSAN) -j $(JOBS)
	cd $(TSAN) && ctest --output-on-failure -j $(JOBS) -L bench
	cd $(TSAN) && ctest --output-on-failure -j $(JOBS) -R '^(ThreadsTest|LoopTest|CommandQueue|KeysTest|RemoteServer)\.'

# Every fuzz target (clang's libFuzzer, ASan and UBSan) for FUZZ_SECONDS each, with
# executions per second and corpus sizes per target (tools/run-fuzz.sh).
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCORVID_FUZZ=ON $(CMAKE_ARGS)
	cmake --build $(FUZZ) -j $(JOBS) --target corvid_fuzz_all
	FUZZ_SECONDS=$(FUZZ_SECONDS) tools/run-fuzz.sh $(FUZZ)

# The whole bench in remote operation under a sanitizer for SOAK_SECONDS: remote clients
# with commands, audio and CAT, panel and service keyboard keys, the station's frequency
# and transmissions, faults injected and removed; the controller's memory, descriptors
# and threads every 30 s, the sanitizer reports, the errors raised, and its end by F12.
soak: deps
	test -f $(SOAK_BUILD)/build.ninja || cmake -S . -B $(SOAK_BUILD) -G Ninja \
	  -DCMAKE_BUILD_TYPE=Debug -DCORVID_WERROR=ON -DCORVID_SANITIZE=$(SOAK_SANITIZE) $(CMAKE_ARGS)
	cmake --build $(SOAK_BUILD) -j $(JOBS) --target corvid-bench corvid-remote
	tools/soak.sh $(SOAK_BUILD) $(SOAK_SECONDS) $(SOAK_REPORT)

clean:
	rm -rf $(BUILD) $(ASAN) $(TSAN) $(FUZZ) bench-root

# The build for the unit: Debian's cross toolchain, the armhf libraries, and qemu-arm
# to run the test binaries here (no binfmt_misc needed). The native packages are
# installed too: the bench's stand-in programs are built for this machine.
cross-deps: deps
	@tools/install-cross-deps.sh

$(CROSS)/build.ninja: | cross-deps
	cmake -S . -B $(CROSS) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVID_WERROR=ON $(CMAKE_ARGS)

cross: cross-deps $(CROSS)/build.ninja
	cmake --build $(CROSS) -j $(JOBS)

test-cross: cross
	cd $(CROSS) && ctest --output-on-failure -j $(JOBS) $(CROSS_TESTS)

clean-cross:
	rm -rf $(CROSS)
