# Entry points for a newcomer and for CI. Each target installs what it needs first.
JOBS ?= $(shell nproc)
ARGS ?=

.PHONY: all deps build test test-linux test-windows test-asan test-tsan demo package clean

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

# The SteamVR driver package for Windows: dist/tarvolt_rq508/ and dist/tarvolt_rq508.zip.
# OPENVR_SDK_DIR=<OpenVR SDK> adds its openvr_api.dll for vistrel.exe; ALLOW_MISSING_VISTREL=1
# packages even when the build has no vistrel.exe (such a package cannot deliver poses).
package: deps
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS)
	tools/package.sh build/windows dist $(if $(filter 1 yes,$(ALLOW_MISSING_VISTREL)),--allow-missing-vistrel)

clean:
	rm -rf build dist
