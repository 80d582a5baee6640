# Quick start: `make demo` builds and runs the examples, `make test` runs the
# tests and says which optional ones it skipped and how to run them (both
# install the packages they need first on a fresh machine; `make deps`
# installs them again),
# `make serve` serves the example site on http://127.0.0.1:8080/,
# `make pkginfo` loads the package module and prints what it holds.
# `make windows` cross-builds the DLLs and programs for Windows (MinGW-w64)
# into build-windows and runs their tests under Wine.
# `make package` makes the Debian packages (CPack) in $(BUILD)/packages.
# `make docs` builds the API reference (Doxygen) into $(BUILD)/docs/api/html.
# `make bench` times the producer against its peers (docs/benchmarks.md);
# `make bench-report` also counts instructions and peak memory and rewrites
# the results in docs/benchmarks.md and docs/benchmarks.png.
BUILD ?= build
GENERATOR ?= Ninja
CMAKE_ARGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

WINDOWS_BUILD ?= build-windows

BENCH_BUILD ?= build-bench
BENCH_REPS ?= 5
BENCH_MIN_TIME ?= 0.2

.PHONY: all deps configure build demo serve pkginfo test test-huge fuzz clean bench-build bench bench-report windows

all: build

# `make deps` installs the build's packages. The other targets install them
# only for a build directory that has not had them yet, or when the installer
# changed since: a stamp file in the build directory remembers it.
deps:
	@scripts/install-deps.sh build

$(BUILD)/.deps-installed: scripts/install-deps.sh
	@scripts/install-deps.sh build
	@mkdir -p $(BUILD) && touch $@

configure: $(BUILD)/.deps-installed
	cmake -S . -B $(BUILD) -G $(GENERATOR) $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The example first: vek_demo needs only the component and its host layer
# (about 30 files), so its output comes about a minute into a first build on
# two cores; then vekpp, the standard tags and the tool (the longer part of a
# first build). Ninja shows each step with its count and the seconds so far.
demo: configure
	@echo "== make demo: building vek_demo (the component and its host layer)"
	NINJA_STATUS="[%f/%t %es] " cmake --build $(BUILD) -j $(JOBS) --target vek_demo
	@echo "== examples/demo.cpp: the producer with its stored form"
	$(BUILD)/bin/vek_demo
	@echo "== make demo: building vekpp (the standard tags and the tool)"
	NINJA_STATUS="[%f/%t %es] " cmake --build $(BUILD) -j $(JOBS) --target vekpp
	@echo "== vekpp render examples/site/index.html"
	$(BUILD)/bin/vekpp render examples/site/index.html

serve: configure
	cmake --build $(BUILD) -j $(JOBS) --target vekpp
	$(BUILD)/bin/vekpp serve examples/site

pkginfo: configure
	cmake --build $(BUILD) -j $(JOBS) --target vek_pkginfo PVekPgPrd
	$(BUILD)/bin/vek_pkginfo $(BUILD)/lib/libPVekPgPrd.so

# The tests but the labels in TEST_LEFT_OUT; then what did not run (a test
# that skipped itself, one not defined for lack of a program, a label left
# out) and how to run it, from ctest's JUnit report.
TEST_LEFT_OUT = huge|serve-load
test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) -LE '$(TEST_LEFT_OUT)' \
	  --output-junit $(abspath $(BUILD))/ctest-junit.xml; status=$$?; \
	  scripts/test-skipped.sh $(BUILD) $(abspath $(BUILD))/ctest-junit.xml '$(TEST_LEFT_OUT)'; \
	  exit $$status

# Templates larger than 2.5 GiB (about 5.2 GB of memory, run one at a time).
test-huge: build
	ctest --test-dir $(BUILD) --output-on-failure -L huge

# Every fuzz target for FUZZ_SECONDS (default 60) each; clang.
fuzz:
	scripts/run-fuzzers.sh

# The Windows cross build: VCL50.dll, INET50.dll, PVekPgPrd.dll (with its
# Windows resources), the example and the tests as .exe; the tests run under
# Wine in a prefix of their own inside the build tree.
$(WINDOWS_BUILD)/.deps-installed: scripts/install-deps.sh
	@scripts/install-deps.sh windows
	@mkdir -p $(WINDOWS_BUILD) && touch $@

windows: $(WINDOWS_BUILD)/.deps-installed
	cmake -S . -B $(WINDOWS_BUILD) -G $(GENERATOR) $(CMAKE_ARGS) \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  "-DCMAKE_CROSSCOMPILING_EMULATOR=$(CURDIR)/scripts/wine-run.sh;$(CURDIR)/$(WINDOWS_BUILD)/wine"
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)
	ctest --test-dir $(WINDOWS_BUILD) --output-on-failure -j $(JOBS)

# The benchmarks build apart, optimised, with the peers' packages.
$(BENCH_BUILD)/.deps-installed: scripts/install-deps.sh
	@scripts/install-deps.sh build bench
	@mkdir -p $(BENCH_BUILD) && touch $@

bench-build: $(BENCH_BUILD)/.deps-installed
	cmake -S . -B $(BENCH_BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Release \
	  -DVEK_BUILD_BENCH=ON -DVEK_BUILD_TESTS=OFF -DVEK_BUILD_EXAMPLES=OFF
	cmake --build $(BENCH_BUILD) -j $(JOBS)

# One run: every engine on every workload, repetitions interleaved at random
# so that a noisy machine disturbs all engines alike; then the ratios.
bench: bench-build
	$(BENCH_BUILD)/bin/vek_bench --benchmark_repetitions=$(BENCH_REPS) \
	  --benchmark_min_time=$(BENCH_MIN_TIME) --benchmark_enable_random_interleaving=true \
	  --benchmark_report_aggregates_only=true \
	  --benchmark_out=$(BENCH_BUILD)/bench.json --benchmark_out_format=json
	python3 bench/report.py --json $(BENCH_BUILD)/bench.json

bench-report: bench
	python3 bench/report.py --json $(BENCH_BUILD)/bench.json --bin $(BENCH_BUILD)/bin \
	  --docs docs/benchmarks.md --plot docs/benchmarks.png

clean:
	rm -rf $(BUILD) build-*

# The API reference of the public headers; a Doxygen warning fails it.
.PHONY: docs
docs:
	@scripts/install-deps.sh build docs
	cmake -S . -B $(BUILD) -G $(GENERATOR) $(CMAKE_ARGS)
	cmake --build $(BUILD) --target docs
	@echo "API reference: $(BUILD)/docs/api/html/index.html"

# The Debian packages: libraries, development files, vekpp (CPack).
.PHONY: package
package: build
	@scripts/install-deps.sh package
	rm -f $(BUILD)/packages/*.deb
	cd $(BUILD) && cpack
