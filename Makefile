# SPDX-License-Identifier: GPL-2.0-or-later
# Wraps the README's commands. `make run` and `make test` work on a fresh
# Debian 12 machine as root: they install what is missing first.
PRESET ?= default
BUILD_DIR := build/$(PRESET)
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run gui screenshots test test-kernel asan clean \
	windows test-windows screenshots-windows deps-run package

all: build

deps:
	scripts/install-deps

CONFIGURE = @test -f $(BUILD_DIR)/build.ninja || cmake --preset $(PRESET)

configure: deps
	$(CONFIGURE)

build: configure
	cmake --build --preset $(PRESET) -j $(JOBS)

# The main job: the one-click update of a simulated unit, which then lists
# as already updated. The unit keeps its flash in DEMO_DIR between the two
# commands; the folder starts empty each time.
DEMO_DIR := $(BUILD_DIR)/demo
# It installs and builds only what fwtool itself needs; `make test` the rest.
deps-run:
	scripts/install-deps run

run: deps-run
	$(CONFIGURE)
	cmake --build --preset $(PRESET) -j $(JOBS) --target fwtool
	rm -rf $(DEMO_DIR) && mkdir -p $(DEMO_DIR)
	$(BUILD_DIR)/src/cli/fwtool --simulate vqb719 --sim-state $(DEMO_DIR) update --yes \
		--backup $(DEMO_DIR)/flash-before-update.bin
	$(BUILD_DIR)/src/cli/fwtool --simulate vqb719 --sim-state $(DEMO_DIR) list

# The window, against a simulated unit: try the one-click update anywhere.
gui: build
	$(BUILD_DIR)/src/gui/fwtool-gui --simulate vqb719

# The README's pictures of the window (Xvfb + openbox, or offscreen without a frame).
screenshots: build
	BUILD_DIR=$(BUILD_DIR) scripts/screenshot

# The Debian packages fwtool (with fwtool-helper) and fwtool-gui, into $(BUILD_DIR)/packages.
package: configure
	cmake --build --preset $(PRESET) -j $(JOBS) --target fwtool fwtool-gui fwtool-helper fwtool_package_files
	cd $(BUILD_DIR) && cpack -G DEB

# WINDOWS=0 leaves the Windows programs and their wine tests out.
WINDOWS ?= 1
test: build $(if $(filter 1,$(WINDOWS)),windows)
	ctest --preset $(PRESET) -j $(JOBS)
ifeq ($(WINDOWS),1)
	ctest --preset windows -j $(JOBS)
endif

# The Windows programs, cross-built with mingw-w64: build/windows/src/cli/fwtool.exe,
# build/windows/src/gui-win32/fwtool-gui.exe and build/windows/fwtool-*-windows-x64.zip.
windows: deps
	@test -f build/windows/build.ninja || cmake --preset windows
	cmake --build --preset windows -j $(JOBS)

# Only the Windows tests, under wine (a virtual X display of their own).
test-windows: windows
	ctest --preset windows -j $(JOBS)

# The Windows window's pictures beside the Linux ones in docs/screenshots.
screenshots-windows: windows
	scripts/screenshot-windows

# The real Linux USB storage stack in the loop (QEMU, about half a minute).
test-kernel: build
	ctest --preset $(PRESET) -L kernel

asan:
	$(MAKE) test PRESET=asan WINDOWS=0

clean:
	rm -rf build

# libFuzzer targets (clang-15, ASan + UBSan) over the parsers that take bytes
# from outside: images, command blocks into the simulator, `--simulate`,
# sysfs, recorded runs, the frames on fwtool-helper's input, the firmware
# files of the engineering runs. `make fuzz` runs each for
# FUZZ_SECONDS from its committed corpus (fuzz/corpus) and keeps what it
# finds in build/fuzz/findings; `make test` runs each over its corpus and a
# few seconds more.
FUZZ_SECONDS ?= 60
FUZZERS := image_fuzzer sim_command_fuzzer farm_description_fuzzer sysfs_fuzzer \
	recorded_run_fuzzer helper_frame_fuzzer procedure_intake_fuzzer
.PHONY: fuzz-build fuzz test-fuzz
fuzz-build: deps
	@test -f build/fuzz/build.ninja || cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)

fuzz: fuzz-build
	@set -e; for f in $(FUZZERS); do \
	  mkdir -p build/fuzz/findings/$$f build/fuzz/grown/$$f; \
	  echo "== $$f: $(FUZZ_SECONDS) s"; \
	  ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-15/bin/llvm-symbolizer build/fuzz/fuzz/$$f -max_total_time=$(FUZZ_SECONDS) -timeout=20 -rss_limit_mb=2048 \
	    -print_final_stats=1 -artifact_prefix=build/fuzz/findings/$$f/ \
	    build/fuzz/grown/$$f fuzz/corpus/$$f; \
	done

test-fuzz: fuzz-build
	ctest --preset fuzz -j $(JOBS)

test: test-fuzz
