# The two commands:  make run   and   make test   (see README.md)
JOBS ?= $(shell nproc)
ARGS ?=
# Where make install puts Murlex (the build is made for this prefix).
PREFIX ?= /usr/local

.PHONY: all deps test run bench fuzz build-test build-dev build-release build-fuzz install uninstall package clean

all: build-dev

deps:
	@./scripts/install-deps.sh

build-test: deps
	@cmake --preset test >/dev/null
	@cmake --build build/test -j$(JOBS)

build-dev: deps
	@cmake --preset dev >/dev/null
	@cmake --build build/dev -j$(JOBS)

build-release: deps
	@cmake --preset release >/dev/null
	@cmake --build build/release -j$(JOBS)

# Builds with sanitizers and runs the whole suite inside the harness (Xvfb, PulseAudio, keyring).
# Pass ctest arguments through ARGS, e.g.  make test ARGS='-L foundation'
test: build-test
	@./scripts/harness.sh ctest --test-dir build/test --output-on-failure --no-tests=error $(ARGS)

# Starts the local stand-in backend and the app against it; stops the stand-in when the app exits.
run: build-dev
	@./scripts/run-dev.sh

# Builds the fuzz targets (clang, libFuzzer, ASan + UBSan) and runs each for FUZZ_RUNS inputs,
# one after the other, then prints one table (see fuzz/run.sh for the other settings).
FUZZ_RUNS ?= 1000000
build-fuzz: deps
	@cmake -S fuzz -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build build/fuzz -j$(JOBS)

fuzz: build-fuzz
	@FUZZ_RUNS=$(FUZZ_RUNS) ./fuzz/run.sh build/fuzz

bench: build-release
	@./scripts/bench.sh

# A release build made for PREFIX, installed there: the executable, the desktop entry and the icons.
install: deps
	@cmake -S . -B build/install -DCMAKE_BUILD_TYPE=Release -DMURLEX_BUILD_TESTS=OFF \
		-DCMAKE_INSTALL_PREFIX="$(PREFIX)" >/dev/null
	@cmake --build build/install -j$(JOBS)
	@./scripts/install-app.sh build/install

# Removes exactly what the last make install put in place.
uninstall:
	@./scripts/uninstall-app.sh build/install

# A Debian package (build/package/murlex_<version>_<arch>.deb) for  apt install ./murlex_*.deb
package: deps
	@cmake -S . -B build/package -DCMAKE_BUILD_TYPE=Release -DMURLEX_BUILD_TESTS=OFF \
		-DCMAKE_INSTALL_PREFIX=/usr >/dev/null
	@cmake --build build/package -j$(JOBS)
	@cd build/package && cpack -G DEB
	@ls build/package/murlex_*.deb

clean:
	rm -rf build
