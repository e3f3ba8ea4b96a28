# Drives CMake. `make run` and `make test` install what is missing first.
BUILD    ?= build
JOBS     ?= $(shell nproc)
CMAKE    ?= cmake
CTEST_ARGS ?=

.PHONY: all deps configure build run test bench test-sanitize lint format-check fuzz screenshots package install clean

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
# octave 4 and "Si" at octave 8, "Do" at octave 7 measured, with help open,
# the box that asks for a note first, the tuning display in each state, and
# with a synthetic piano's eight A's and C1: the display against a key's
# target, the curve's pane, and "Nouveau piano".
# The display against a target is the README's picture, docs/window.png.
screenshots: build
	$(BUILD)/app/harmolune-screenshots $(BUILD)/screenshots
	cp $(BUILD)/screenshots/display-target.png docs/window.png

# The Debian package, $(BUILD)/harmolune_VERSION_ARCH.deb (cmake/Packaging.cmake).
package: build
	$(CMAKE) --build $(BUILD) --target package

# Quality gates. Each uses a build tree of its own, so none disturbs $(BUILD).
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= $(notdir $(wildcard fuzz/corpus/*))
ASAN_OPTS = detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1
SANITIZER_ENV = ASAN_OPTIONS=$(ASAN_OPTS) \
  LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  HARMOLUNE_SOAK_BLOCKS=100000

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, then
# the threaded tests under ThreadSanitizer.
test-sanitize: deps
	$(CMAKE) -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHARMOLUNE_SANITIZE=ON -DHARMOLUNE_BENCHMARKS=OFF
	$(CMAKE) --build $(ASAN_BUILD) -j $(JOBS)
	$(SANITIZER_ENV) scripts/run-tests.sh $(ASAN_BUILD) $(CTEST_ARGS)
	@# The tests whose code runs on more than one thread (CTest label
	@# "threads"): the hand-over ring, the capture backend and the
	@# synthesiser's stream against the private sound server, and the server
	@# that dies and comes back. None needs the window.
	$(CMAKE) -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHARMOLUNE_TSAN=ON \
	  -DHARMOLUNE_BENCHMARKS=OFF -DHARMOLUNE_GUI=OFF
	$(CMAKE) --build $(TSAN_BUILD) -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/scripts/tsan.supp \
	  HARMOLUNE_SOUND_SERVERS=pulseaudio scripts/run-tests.sh $(TSAN_BUILD) -L threads

# clang-tidy (.clang-tidy) and cppcheck over every source of the project in
# $(BUILD)'s compile_commands.json; any finding fails.
LINT_FILES = '^$(CURDIR)/(core|spectrum|measure|tuning|sound|settings|cli|app|fuzz|bench)/.*\.cpp$$'
lint: build
	run-clang-tidy -quiet -p $(BUILD) -j $(JOBS) $(LINT_FILES) > $(BUILD)/clang-tidy.log 2>&1 \
	  || { grep -E 'warning:|error:' -A3 $(BUILD)/clang-tidy.log; exit 1; }
	@echo "clang-tidy: no findings"
	scripts/cppcheck.sh $(BUILD)

format-check:
	git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror

# Each libFuzzer target for FUZZ_SECONDS, in a clang build with coverage,
# AddressSanitizer and UndefinedBehaviorSanitizer. New inputs go to
# $(FUZZ_BUILD)/corpus/, crashes to $(FUZZ_BUILD)/crashes/.
fuzz: deps
	CC=clang CXX=clang++ $(CMAKE) -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DBUILD_TESTING=OFF -DHARMOLUNE_BENCHMARKS=OFF -DHARMOLUNE_SOUND=OFF -DHARMOLUNE_GUI=OFF \
	  "-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all"
	$(CMAKE) --build $(FUZZ_BUILD) -j $(JOBS) --target $(addprefix fuzz-,$(FUZZ_TARGETS))
	@mkdir -p $(FUZZ_BUILD)/crashes
	@for t in $(FUZZ_TARGETS); do echo "== fuzz-$$t for $(FUZZ_SECONDS) s"; \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$t; \
	  $(FUZZ_BUILD)/fuzz/fuzz-$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ_BUILD)/crashes/$$t- $(FUZZ_BUILD)/corpus/$$t fuzz/corpus/$$t \
	    > $(FUZZ_BUILD)/fuzz-$$t.log 2>&1 || { tail -40 $(FUZZ_BUILD)/fuzz-$$t.log; exit 1; }; \
	  grep -E '^#[0-9]+.*(DONE|pulse)' $(FUZZ_BUILD)/fuzz-$$t.log | tail -1; \
	  grep -E 'stat::(number_of_executed_units|average_exec_per_sec)' $(FUZZ_BUILD)/fuzz-$$t.log; \
	  scripts/fuzz-coverage.sh $(FUZZ_BUILD)/fuzz/fuzz-$$t $(FUZZ_BUILD)/corpus/$$t fuzz/corpus/$$t; done

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
