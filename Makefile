# make demo   - build the library and show it at work
# make test   - install what is missing, build every preset, run every test
# make bench  - build the release preset and run the benchmarks (not part of test)
# make fuzz   - run every fuzzer for FUZZ_SECONDS (default 60) each
SHELL := /bin/bash
.ONESHELL:
.SHELLFLAGS := -eu -o pipefail -c

TESTED_PRESETS := linux linux-asan
BUILT_PRESETS := mingw-x64 mingw-i686
PRESETS := $(TESTED_PRESETS) $(BUILT_PRESETS) fuzz

.PHONY: deps deps-demo test demo bench fuzz fuzz-smoke clean windows windows-run \
	$(TESTED_PRESETS) $(BUILT_PRESETS) $(PRESETS:%=build-%) $(TESTED_PRESETS:%=check-%)

deps:
	@scripts/deps.sh

deps-demo:
	@scripts/deps.sh demo

build/%/build.ninja:
	cmake --preset $* > /dev/null

# Each preset's build and its test run are separate steps: make test builds
# everything first, with every core compiling, then runs the two Linux suites
# side by side, as they mostly wait on lines and clocks. (The Wine tests
# start a Wine prefix, which takes the cores for a while: they run alone.)
# The fuzz preset builds its fuzzers only (not the shared library).
build_targets_fuzz := --target fuzzers
$(PRESETS:%=build-%): build-%: deps build/%/build.ninja
	cmake --build build/$* $(build_targets_$*)

$(TESTED_PRESETS:%=check-%): check-%: build-%
	ctest --preset $* --output-on-failure --timeout 300

$(TESTED_PRESETS): %: check-%
$(BUILT_PRESETS): %: build-%

# The DLLs' exports, imports and resources; both DLLs under Wine, the
# x86-64 one and the i686 one, with the linux preset's simulator behind
# their COM ports.
windows: build-mingw-x64 build-mingw-i686 build-linux
	$(MAKE) --no-print-directory windows-run

windows-run:
	tests/windows/check_dll.sh build/mingw-x64/src/Tarvo.dll build/mingw-i686/src/Tarvo.dll
	tests/windows/run.sh build/linux build/mingw-x64 build/mingw-i686

# Every fuzzer for FUZZ_SECONDS each, from its seed corpus (kept in the
# repository; what a run finds stays under build/fuzz/corpus).
FUZZ_SECONDS ?= 60
fuzz: build-fuzz
	scripts/run_fuzzers.sh build/fuzz $(FUZZ_SECONDS)

fuzz-smoke:
	$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=20

test: deps
	$(MAKE) --no-print-directory $(PRESETS:%=build-%)
	$(MAKE) --no-print-directory -j2 --output-sync=target $(TESTED_PRESETS:%=check-%)
	$(MAKE) --no-print-directory windows-run
	$(MAKE) --no-print-directory fuzz-smoke

# Benchmarks on the release build; the figures are recorded in
# docs/performance.md. Slow (about two minutes: real exchanges wait).
bench: deps build/linux-release/build.ninja
	cmake --build build/linux-release --target tarvo tarvo_bench tarvo_exchange_overhead \
		tarvo_memory_usage
	scripts/bench.sh build/linux-release

# The simulator serving its built-in plant, and tarvo-poll reading it.
demo: deps-demo build/linux/build.ninja
	cmake --build build/linux --target tarvo tarvo-poll pxrsim
	scripts/demo.sh build/linux

clean:
	rm -rf build
