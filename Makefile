# Strellan: one source, two programs. The presets in CMakePresets.json do the
# work; this file installs what is missing first and runs both.
JOBS ?= $(shell nproc)

.PHONY: all deps-run deps-package deps-test build build-release build-linux build-linux-asan \
	build-windows package test test-linux test-linux-asan test-windows test-package run bench \
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
	$(NICE) cmake --preset release
	$(NICE) cmake --build --preset release -j $(JOBS)

build-linux:
	cmake --preset linux
	cmake --build --preset linux -j $(JOBS)

# The Linux program and its tests under AddressSanitizer and
# UndefinedBehaviorSanitizer.
build-linux-asan:
	$(NICE) cmake --preset linux-asan
	$(NICE) cmake --build --preset linux-asan -j $(JOBS)

build-windows:
	$(NICE) cmake --preset windows-x86
	$(NICE) cmake --build --preset windows-x86 -j $(JOBS)

# build/release/strellan_*.deb and build/windows-x86/strellan-*-windows-x86.zip
package: deps-package build-release build-windows
	$(NICE) cpack --preset linux-deb
	$(NICE) cpack --preset windows-zip

# The four suites side by side, each after its own build only, each
# suite's output printed whole when it ends. Within a suite ctest runs
# independent tests side by side too. The sound tests listen one at a time
# at normal priority; everything else yields the CPU to them (nice 19:
# these builds here, the other tests by the harness), since a sound test
# hears the machine's load. The Linux build they wait for keeps its
# priority.
test: deps-test
	@$(MAKE) --no-print-directory --keep-going --output-sync=target -j 4 \
		test-linux test-linux-asan test-windows test-package

test-linux-asan test-windows test-package: NICE = nice -n 19

test-linux: build-linux
	ctest --preset linux -j $(JOBS)
test-linux-asan: build-linux-asan
	ctest --preset linux-asan -j $(JOBS)
test-windows: build-windows
	ctest --preset windows-x86
test-package: package
	$(NICE) ctest --preset package -j $(JOBS)

run: deps-run build-release
	cmake --build --preset release --target run

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h' '*.c')

clean:
	rm -rf build

bench: build
	/usr/bin/python3 bench/bench.py
