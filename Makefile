# make demo    - build the library and show it at work
# make test    - install what is missing, build every preset, run every test
# make bench   - build the release preset and run the benchmarks (not part of test)
# make scale   - a full line (128 modules) and smaller ones through the tools (not part of test)
# make fuzz    - run every fuzzer for FUZZ_SECONDS (default 60) each
# make soak    - tarvo-gateway through SOAK_MINUTES (default 30) of faults
# make install - build the release library and tools, install them under
#                PREFIX (default /usr/local), below DESTDIR when given
# make package - the Debian package (build/linux-release/tarvo_*.deb)
# make windows-bundle - both DLLs, the headers, the example host and
#                register.cmd in one zip (build/windows-bundle/)
SHELL := /bin/bash
.ONESHELL:
.SHELLFLAGS := -eu -o pipefail -c

TESTED_PRESETS := linux linux-asan linux-tsan
BUILT_PRESETS := mingw-x64 mingw-i686
PRESETS := $(TESTED_PRESETS) $(BUILT_PRESETS) linux-release fuzz
PREFIX ?= /usr/local

.PHONY: deps deps-demo test demo bench scale fuzz fuzz-smoke soak clean windows windows-run \
	install package windows-bundle check-install \
	$(TESTED_PRESETS) $(BUILT_PRESETS) $(PRESETS:%=build-%) $(TESTED_PRESETS:%=check-%)

deps:
	@scripts/deps.sh

deps-demo:
	@scripts/deps.sh demo

build/%/build.ninja:
	cmake --preset $* > /dev/null

# Each preset's build and its test run are separate steps: make test builds
# everything first, with every core compiling, then runs the Linux suites two
# at a time, as they mostly wait on lines and clocks. (The Wine tests
# start a Wine prefix, which takes the cores for a while: they run alone.)
# The fuzz preset builds its fuzzers only (not the shared library); the
# release preset what is installed and packaged (its benchmarks: make bench).
build_targets_fuzz := --target fuzzers
installed_targets := tarvo tarvo-poll pxrsim tarvo-gateway
build_targets_linux-release := --target $(installed_targets)
# The ThreadSanitizer preset builds and runs the tests of lines in parallel
# and a few of the gateway's.
build_targets_linux-tsan := --target tarvo_lines_tests tarvo_tools_tests
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
	# One preset's tests at a time: each runs four at once already, and the
	# real-time ones (a simulator answering on a pty, a broker) miss their
	# time-outs when two presets' share the two cores (80 s more in all).
	$(MAKE) --no-print-directory $(TESTED_PRESETS:%=check-%)
	$(MAKE) --no-print-directory windows-run
	$(MAKE) --no-print-directory check-install windows-bundle
	$(MAKE) --no-print-directory fuzz-smoke
	if [[ -f build/wine32-missing ]]; then
	  echo "WARNING: the i686 Wine steps were skipped: wine32 could not be installed:"
	  sed 's/^/  /' build/wine32-missing
	fi

# What make install and make package give a host vendor, checked from
# outside (the Debian package is built in a temporary folder).
check-install: build-linux-release build-mingw-x64
	scripts/check_install.sh build/linux-release build/mingw-x64/src/Tarvo.dll

# Only what the Linux build needs is installed first, as for make demo.
install: deps-demo build/linux-release/build.ninja
	cmake --build build/linux-release --target $(installed_targets)
	cmake --install build/linux-release --prefix $(PREFIX)

package: build-linux-release
	cd build/linux-release && cpack

windows-bundle: build-mingw-x64 build-mingw-i686
	scripts/windows_bundle.sh build/mingw-x64 build/mingw-i686 build/windows-bundle

# Benchmarks on the release build; the figures are recorded in
# docs/performance.md. Slow (about two minutes: real exchanges wait).
bench: deps build/linux-release/build.ninja
	cmake --build build/linux-release --target tarvo tarvo_bench tarvo_exchange_overhead \
		tarvo_memory_usage
	scripts/bench.sh build/linux-release

# A full line of 65,536 points and 8 and 32 modules of the same, through
# tarvo-poll and tarvo-gateway at 115200 and 9600 baud (docs/performance.md).
# The 9600 baud full line takes several minutes.
scale: deps build/linux-release/build.ninja
	cmake --build build/linux-release --target $(installed_targets)
	scripts/scale.sh build/linux-release

# tarvo-gateway over pxrsim for SOAK_MINUTES while faults come and go; its
# memory, descriptors and threads must stay flat and every item come back
# (docs/reliability.md). Not part of test; the samples stay in build/soak.
SOAK_MINUTES ?= 30
soak: deps build/linux/build.ninja
	cmake --build build/linux --target tarvo tarvo-gateway pxrsim
	scripts/soak.py build/linux --minutes $(SOAK_MINUTES)

# The simulator serving its built-in plant, and tarvo-poll reading it.
demo: deps-demo build/linux/build.ninja
	cmake --build build/linux --target tarvo tarvo-poll pxrsim
	scripts/demo.sh build/linux

clean:
	rm -rf build
