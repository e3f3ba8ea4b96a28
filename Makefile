# Drives CMake. `make run` and `make test` install what is missing first.
BUILD    ?= build
JOBS     ?= $(shell nproc)
CMAKE    ?= cmake
CTEST_ARGS ?=

.PHONY: all deps configure build run test bench test-sanitize lint format-check fuzz screenshots install clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/CMakeCache.txt:
	$(CMAKE) -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

configure: deps $(BUILD)/CMakeCache.txt

build: configure
	$(CMAKE) --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/harmolune

test: build
	scripts/run-tests.sh $(BUILD) $(CTEST_ARGS)

bench: build
	@for b in $(BUILD)/bench/*-bench; do echo "== $$b"; $$b; done

# PNG pictures of the window, drawn offscreen: as started, after "La" at
# octave 4, with help open, and the box that asks for a note first.
screenshots: build
	$(BUILD)/app/harmolune-screenshots $(BUILD)/screenshots

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz
