# make run   - the controller on the bench (installs, configures and builds first)
# make test  - the whole test suite
JOBS      ?= $(shell nproc)
BUILD     ?= build
ASAN      ?= build-asan
TSAN      ?= build-tsan
CMAKE_ARGS ?=

.PHONY: all deps build run test test-sanitize test-tsan bench clean

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
	cd $(TSAN) && ctest --output-on-failure -j $(JOBS) -L 'bench|threads'

clean:
	rm -rf $(BUILD) $(ASAN) $(TSAN) bench-root
