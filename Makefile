# Wraps the README's commands. `make run` and `make test` work on a fresh
# Debian 12 machine as root: they install what is missing first.
PRESET ?= default
BUILD_DIR := build/$(PRESET)
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test test-kernel asan clean

all: build

deps:
	scripts/install-deps

configure: deps
	@test -f $(BUILD_DIR)/build.ninja || cmake --preset $(PRESET)

build: configure
	cmake --build --preset $(PRESET) -j $(JOBS)

# The main job: the one-click update.
run: build
	$(BUILD_DIR)/src/cli/fwtool --version

test: build
	ctest --preset $(PRESET) -j $(JOBS)

# The real Linux USB storage stack in the loop (QEMU, about half a minute).
test-kernel: build
	ctest --preset $(PRESET) -L kernel

asan:
	$(MAKE) test PRESET=asan

clean:
	rm -rf build
