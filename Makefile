# make demo   - build the library and show it at work
# make test   - install what is missing, build every preset, run every test
# make bench  - build the release preset and run the benchmarks (not part of test)
SHELL := /bin/bash
.ONESHELL:
.SHELLFLAGS := -eu -o pipefail -c

TESTED_PRESETS := linux linux-asan
BUILT_PRESETS := mingw-x64 mingw-i686

.PHONY: deps deps-demo test demo bench build $(TESTED_PRESETS) $(BUILT_PRESETS) windows fuzz fuzz-smoke clean

deps:
	@scripts/deps.sh

deps-demo:
	@scripts/deps.sh demo

build/%/build.ninja:
	cmake --preset $* > /dev/null

$(TESTED_PRESETS): %: deps build/%/build.ninja
	cmake --build build/$@
	ctest --preset $@ --output-on-failure --timeout 300

$(BUILT_PRESETS): %: deps build/%/build.ninja
	cmake --build build/$@

# The DLLs' exports, imports and resources; the x86-64 build under Wine,
# with the linux preset's simulator behind its COM ports.
windows: $(BUILT_PRESETS) build/linux/build.ninja
	cmake --build build/linux --target tarvo_sim_peer
	tests/windows/check_dll.sh build/mingw-x64/src/Tarvo.dll build/mingw-i686/src/Tarvo.dll
	tests/windows/run.sh build/mingw-x64 build/linux

# Every fuzzer for FUZZ_SECONDS each, from its seed corpus (kept in the
# repository; what a run finds stays under build/fuzz/corpus).
FUZZ_SECONDS ?= 60
fuzz: deps build/fuzz/build.ninja
	cmake --build build/fuzz --target fuzzers
	scripts/run_fuzzers.sh build/fuzz $(FUZZ_SECONDS)

fuzz-smoke:
	$(MAKE) fuzz FUZZ_SECONDS=20

test: $(TESTED_PRESETS) $(BUILT_PRESETS) windows fuzz-smoke

# Benchmarks on the release build; the figures are recorded in
# docs/performance.md. Slow (about two minutes: real exchanges wait).
bench: deps build/linux-release/build.ninja
	cmake --build build/linux-release
	scripts/bench.sh build/linux-release

# The simulator serving its built-in plant, and tarvo-poll reading it.
demo: deps-demo build/linux/build.ninja
	cmake --build build/linux --target tarvo tarvo-poll pxrsim
	scripts/demo.sh build/linux

clean:
	rm -rf build
