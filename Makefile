# The two commands:  make run   and   make test   (see README.md)
JOBS ?= $(shell nproc)
ARGS ?=

.PHONY: all deps test run bench build-test build-dev build-release clean

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

bench: build-release
	@./scripts/bench.sh

clean:
	rm -rf build
