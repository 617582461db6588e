# Strellan: one source, two programs. The presets in CMakePresets.json do the
# work; this file installs what is missing first and runs both.
JOBS ?= $(shell nproc)

.PHONY: all deps build build-linux build-linux-asan build-windows test run bench format clean

all: build

deps:
	@./scripts/install-deps.sh

build: deps build-linux build-windows

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

test: build build-linux-asan
	ctest --preset linux
	ctest --preset linux-asan
	ctest --preset windows-x86

run: deps build-linux
	cmake --build --preset linux --target run

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h' '*.c')

clean:
	rm -rf build

bench: build
	/usr/bin/python3 bench/bench.py
