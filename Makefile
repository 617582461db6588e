# Strellan: one source, two programs. The presets in CMakePresets.json do the
# work; this file installs what is missing first and runs both.
JOBS ?= $(shell nproc)

.PHONY: all deps-run deps-package deps-test build build-release build-linux build-linux-asan \
	build-windows package test quiet-linux quiet-linux-asan test-windows test-package run bench \
	format clean

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
build-release:
	cmake --preset release
	cmake --build --preset release -j $(JOBS)

build-linux:
	cmake --preset linux
	cmake --build --preset linux -j $(JOBS)

# The Linux program and its tests under AddressSanitizer and
# UndefinedBehaviorSanitizer.
build-linux-asan:
	cmake --preset linux-asan
	cmake --build --preset linux-asan -j $(JOBS)

build-windows:
	cmake --preset windows-x86
	cmake --build --preset windows-x86 -j $(JOBS)

# build/release/strellan_*.deb and build/windows-x86/strellan-*-windows-x86.zip
package: deps-package build-release build-windows
	cpack --preset linux-deb
	cpack --preset windows-zip

# Every suite but its listening tests side by side, each after its own
# build only, each suite's output printed whole when it ends, and within a
# suite its independent tests side by side too. Then the sound tests,
# which hear the machine's load, alone (tests/CMakeLists.txt).
test: deps-test
	@$(MAKE) --no-print-directory --keep-going --output-sync=target -j 4 \
		quiet-linux quiet-linux-asan test-windows test-package
	ctest --preset linux -L listening
	ctest --preset linux-asan -L listening

quiet-linux: build-linux
	ctest --preset linux -j $(JOBS) -LE listening
quiet-linux-asan: build-linux-asan
	ctest --preset linux-asan -j $(JOBS) -LE listening
test-windows: build-windows
	ctest --preset windows-x86
test-package: package
	ctest --preset package -j $(JOBS)

run: deps-run build-release
	cmake --build --preset release --target run

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h' '*.c')

clean:
	rm -rf build

bench: build
	/usr/bin/python3 bench/bench.py
