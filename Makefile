# Entry points for a newcomer and for CI. Each target installs what it needs first.
JOBS ?= $(shell nproc)
ARGS ?=

.PHONY: all deps build test test-linux test-windows test-asan test-tsan demo clean

all: build

deps:
	@tools/install-deps.sh

build: deps
	cmake --preset linux >/dev/null
	cmake --build --preset linux -j $(JOBS)

test-linux: deps
	cmake --preset linux
	cmake --build --preset linux -j $(JOBS)
	ctest --preset linux -j $(JOBS)

test-asan: deps
	cmake --preset linux-asan
	cmake --build --preset linux-asan -j $(JOBS)
	ctest --preset linux-asan -j $(JOBS)

test-tsan: deps
	cmake --preset linux-tsan
	cmake --build --preset linux-tsan -j $(JOBS)
	ctest --preset linux-tsan -j $(JOBS)

test-windows: deps
	cmake --preset windows
	cmake --build --preset windows -j $(JOBS)
	tools/wine-session.sh $(CURDIR)/build/windows ctest --preset windows -j $(JOBS)

# Every test natively, under the sanitizers, and the Windows build under Wine.
test: test-linux test-windows test-asan test-tsan

demo: build
	build/linux/bin/vrserver --root build/linux/pkg --seconds 3 $(ARGS)

clean:
	rm -rf build dist
