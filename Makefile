# Strellan: one source, two programs. The presets in CMakePresets.json do the
# work; this file installs what is missing first and runs both.
JOBS ?= $(shell nproc)
BUILD = cmake --build

.PHONY: all deps-run deps-package deps-test build build-release build-linux build-linux-asan \
	build-windows configure-release package test test-package test-make-run test-packages run \
	bench format clean

all: build

# What each goal needs, and only that: scripts/install-deps.sh --print SET
# lists a set without installing it.
deps-run:
	@./scripts/install-deps.sh run
deps-package:
	@./scripts/install-deps.sh package
deps-test:
	@./scripts/install-deps.sh test

build: deps-test build-linux build-windows

# The Linux program alone, as make run starts it and the Debian package
# ships it.
build-release: configure-release
	$(BUILD) --preset release -j $(JOBS)
configure-release:
	cmake --preset release

build-linux:
	cmake --preset linux
	$(BUILD) --preset linux -j $(JOBS)

# The Linux program and its tests under AddressSanitizer and
# UndefinedBehaviorSanitizer.
build-linux-asan:
	cmake --preset linux-asan
	$(BUILD) --preset linux-asan -j $(JOBS)

build-windows:
	cmake --preset windows-x86
	$(BUILD) --preset windows-x86 -j $(JOBS)

# build/release/strellan_*.deb and build/windows-x86/strellan-*-windows-x86.zip
package: deps-package build-release build-windows
	cpack --preset linux-deb
	cpack --preset windows-zip

# The builds side by side, and beside them the package suite: `make run` on
# the fresh Debian roots needs the source alone and spends most of its time
# waiting for the archive and debootstrap, and what reads and installs the
# packages starts as soon as they are made. Then the other suites one after
# another, each with the machine to itself: the sound tests hear the
# machine's load (on these virtual machines, with both cores busy at
# whatever priority, a real-time thread now and then wakes some 30 ms
# late), and the timing of the window's tests (the storm's answers, the
# states that follow the focus) is the user's, not a loaded machine's. The
# builds give way to the roots' tests, which set the pace, and take the
# time those spend waiting.
test: deps-test
	@$(MAKE) --no-print-directory --output-sync=target -j 4 BUILD="nice -n 10 cmake --build" \
		build-linux build-linux-asan build-windows test-package
	ctest --preset linux
	ctest --preset linux-asan
	ctest --preset windows-x86

test-package: test-make-run test-packages
test-make-run: deps-package configure-release
	ctest --preset package -R make_run -j $(JOBS)
test-packages: package
	ctest --preset package -E make_run -j $(JOBS)

run: deps-run build-release
	cmake --build --preset release --target run

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h' '*.c')

clean:
	rm -rf build

bench: build
	/usr/bin/python3 bench/bench.py
