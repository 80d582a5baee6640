# Quick start: `make demo` runs the example, `make test` runs every test,
# `make pkginfo` loads the package module and prints what it holds.
BUILD ?= build
GENERATOR ?= Ninja
CMAKE_ARGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure build demo pkginfo test clean

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

pkginfo: configure
	cmake --build $(BUILD) -j $(JOBS) --target vek_pkginfo PVekPgPrd
	$(BUILD)/bin/vek_pkginfo $(BUILD)/lib/libPVekPgPrd.so

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) build-*
