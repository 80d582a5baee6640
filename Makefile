# Quick start: `make demo` runs the example, `make test` runs every test.
BUILD ?= build
GENERATOR ?= Ninja
CMAKE_ARGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure build demo test test-huge fuzz clean

all: build

deps:
	@scripts/install-deps.sh build

configure: deps
	cmake -S . -B $(BUILD) -G $(GENERATOR) $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

demo: configure
	cmake --build $(BUILD) -j $(JOBS) --target vek_demo
	$(BUILD)/bin/vek_demo

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) -LE huge

# Templates larger than 2.5 GiB (about 5.2 GB of memory, run one at a time).
test-huge: build
	ctest --test-dir $(BUILD) --output-on-failure -L huge

# Every fuzz target for FUZZ_SECONDS (default 60) each; clang.
fuzz:
	scripts/run-fuzzers.sh

clean:
	rm -rf $(BUILD) build-*
