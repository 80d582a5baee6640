# Quick start: `make demo` runs the examples, `make test` runs every test,
# `make serve` serves the example site on http://127.0.0.1:8080/.
BUILD ?= build
GENERATOR ?= Ninja
CMAKE_ARGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure build demo serve test clean

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
	cmake --build $(BUILD) -j $(JOBS) --target vekpp
	$(BUILD)/bin/vekpp render examples/site/index.html

serve: configure
	cmake --build $(BUILD) -j $(JOBS) --target vekpp
	$(BUILD)/bin/vekpp serve examples/site

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) build-*
