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

# The README's pictures of the window (needs xvfb-run, or uses offscreen).
screenshots: build
	BUILD_DIR=$(BUILD_DIR) scripts/screenshot

# The Debian packages fwtool and fwtool-gui, into $(BUILD_DIR)/packages.
package: configure
	cmake --build --preset $(PRESET) -j $(JOBS) --target fwtool fwtool-gui fwtool_package_files
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
