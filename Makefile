# make run   installs what is missing, builds and starts the game
# make test  installs what is missing, builds and runs every test
# make test-sanitize  builds everything with ASan+UBSan in $(ASAN_BUILD) and runs every test
# make test-headless  builds what needs no desktop (Qt hidden) in $(HEADLESS_BUILD) and tests it
# make fuzz  builds the fuzz targets with clang in $(FUZZ_BUILD), runs each for FUZZ_SECONDS
BUILD ?= build
JOBS  ?= 2
ASAN_BUILD   ?= build-asan
HEADLESS_BUILD ?= build-headless
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60
# Empty means every target; else names such as "container profile".
FUZZ_TARGETS ?=
# ccache, when installed, makes a rebuild of unchanged sources cost nothing.
LAUNCHER = $(if $(shell command -v ccache),-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

# Any sanitizer report fails the test that met it. Leaks are reported too; the suppression file
# lists only memory that outside libraries keep for the life of the process.
SANITIZER_ENV = \
  ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/fuzz/lsan.supp:print_suppressions=0

.PHONY: deps configure build run test clean test-sanitize test-headless fuzz

deps:
	@scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(LAUNCHER)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

run: build
	$(BUILD)/bin/pipshift

test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

test-sanitize: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug $(LAUNCHER) -DPIPSHIFT_SANITIZE=ON -DPIPSHIFT_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	cd $(ASAN_BUILD) && $(SANITIZER_ENV) ctest --output-on-failure -j$(JOBS)

# Qt is hidden from the configure, so anything that still asks for it fails here, not on a server.
test-headless: deps
	cmake -S . -B $(HEADLESS_BUILD) -DCMAKE_BUILD_TYPE=Release $(LAUNCHER) -DPIPSHIFT_GUI=OFF \
	  -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON -DPIPSHIFT_BENCH=OFF --no-warn-unused-cli
	cmake --build $(HEADLESS_BUILD) -j$(JOBS)
	cd $(HEADLESS_BUILD) && ctest --output-on-failure -j$(JOBS)

fuzz: deps
	@command -v clang++-14 >/dev/null && test -f "$$(clang-14 -print-file-name=libclang_rt.fuzzer-x86_64.a)" || \
	  { echo "make fuzz needs clang-14 and libclang-rt-14-dev"; exit 1; }
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang-14 \
	  -DCMAKE_CXX_COMPILER=clang++-14 -DPIPSHIFT_FUZZ=ON -DPIPSHIFT_TESTS=OFF -DPIPSHIFT_BENCH=OFF
	cmake --build $(FUZZ_BUILD) -j$(JOBS) --target fuzzers
	tests/fuzz/run-fuzzers $(FUZZ_BUILD)/fuzz $(FUZZ_SECONDS) $(FUZZ_TARGETS)

clean:
	rm -rf $(BUILD)
