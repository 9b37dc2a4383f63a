# make demo   - build the library and show it at work
# make test   - install what is missing, build every preset, run every test
SHELL := /bin/bash
.ONESHELL:
.SHELLFLAGS := -eu -o pipefail -c

TESTED_PRESETS := linux linux-asan
BUILT_PRESETS := mingw-x64 mingw-i686

.PHONY: deps test demo build $(TESTED_PRESETS) $(BUILT_PRESETS) clean

deps:
	@scripts/deps.sh

build/%/build.ninja:
	cmake --preset $* > /dev/null

$(TESTED_PRESETS): %: deps build/%/build.ninja
	cmake --build build/$@
	ctest --preset $@ --output-on-failure --timeout 300

$(BUILT_PRESETS): %: deps build/%/build.ninja
	cmake --build build/$@

test: $(TESTED_PRESETS) $(BUILT_PRESETS)

demo: deps build/linux/build.ninja
	cmake --build build/linux --target tarvo tarvo-demo
	build/linux/tools/tarvo-demo build/linux/src/libtarvo.so

clean:
	rm -rf build
