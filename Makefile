# Strellan: one source, two programs. The presets in CMakePresets.json do the
# work; this file installs what is missing first and runs both.
JOBS ?= $(shell nproc)

.PHONY: all deps build build-linux build-windows test run bench format clean

all: build

deps:
	@./scripts/install-deps.sh

build: deps build-linux build-windows

build-linux:
	cmake --preset linux
	cmake --build --preset linux -j $(JOBS)

build-windows:
	cmake --preset windows-x86
	cmake --build --preset windows-x86 -j $(JOBS)

test: build
	ctest --preset linux
	ctest --preset windows-x86

run: deps build-linux
	cmake --build --preset linux --target run

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h' '*.c')

clean:
	rm -rf build

bench: build
	/usr/bin/python3 bench/bench.py
