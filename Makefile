# The two commands:  make run   and   make test   (see README.md)
JOBS ?= $(shell nproc)
ARGS ?=

.PHONY: all deps test run bench fuzz build-test build-dev build-release build-fuzz clean

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

clean:
	rm -rf build
