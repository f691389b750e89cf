# Thin wrapper over CMake. `make run` and `make check` are the two entry points.
BUILD_DIR      ?= build
ASAN_BUILD_DIR ?= build-asan
RELEASE_DIR    ?= build-release
ARM_BUILD_DIR  ?= build-arm
INSTALL_CHECK_DIR ?= build-install-check
FUZZ_BUILD_DIR ?= build-fuzz
FUZZ_SECONDS   ?= 60
# Each fuzz/*_fuzzer.cpp is one target; CMake reads the same files.
FUZZERS        := $(sort $(basename $(notdir $(wildcard fuzz/*_fuzzer.cpp))))
JOBS           ?= $(shell nproc)
CMAKE          ?= cmake
# Our own builds treat warnings as errors; an integrator's plain build does not.
# Line tables only (-g1): backtraces and valgrind still name file and line, and
# the test programs, most of a fresh build, compile a third faster.
TEST_CONFIG    := -DCMAKE_BUILD_TYPE=RelWithDebInfo -DJSONTREE_WERROR=ON \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
ASAN_CONFIG    := -DCMAKE_BUILD_TYPE=Debug -DJSONTREE_SANITIZE=ON -DJSONTREE_WERROR=ON
SANITIZER_ENV  := ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
EXAMPLE        ?= examples/global_conf.json
EXAMPLE_PATH   ?= network.lora.frequency_hz

.PHONY: all release run check check-all check-long build-test build-asan test test-asan valgrind arm check-arm install-check fuzz fuzz-run bench clean

all: release

release:
	$(CMAKE) -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DJSONTREE_TESTS=OFF
	$(CMAKE) --build $(RELEASE_DIR) -j $(JOBS)

run: release
	./$(RELEASE_DIR)/configure_qrn --file $(EXAMPLE) $(EXAMPLE_PATH)

build-test:
	$(CMAKE) -S . -B $(BUILD_DIR) $(TEST_CONFIG)
	$(CMAKE) --build $(BUILD_DIR) -j $(JOBS)

build-asan:
	$(CMAKE) -S . -B $(ASAN_BUILD_DIR) $(ASAN_CONFIG)
	$(CMAKE) --build $(ASAN_BUILD_DIR) -j $(JOBS)

# The random number sweeps run a fixed sample here; check-long runs them in
# full (the tests labelled "long").
test: build-test
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) -LE long

test-asan: build-asan
	cd $(ASAN_BUILD_DIR) && $(SANITIZER_ENV) ctest --output-on-failure -j $(JOBS) -LE long

# The daily loop: one build. CI runs both (check-all), the sanitizer build
# too.
check: test

check-all: test test-asan

check-long: build-test build-asan
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) -L long
	cd $(ASAN_BUILD_DIR) && $(SANITIZER_ENV) ctest --output-on-failure -j $(JOBS) -L long

# The tool tests once more, every run of the tool under memcheck: any error
# or leak changes the tool's exit status and standard error, failing the test.
VALGRIND_COMMAND ?= valgrind -q --error-exitcode=99 --leak-check=full --show-leak-kinds=all \
  --errors-for-leak-kinds=all
valgrind: build-test
	cd $(BUILD_DIR) && JSONTREE_TOOL_WRAPPER="$(VALGRIND_COMMAND)" \
	  ctest --output-on-failure -j $(JOBS) -R Tool

# 32-bit ARM build of the library, the tool and the tests (run under qemu-arm).
arm:
	$(CMAKE) -S . -B $(ARM_BUILD_DIR) -DCMAKE_BUILD_TYPE=MinSizeRel -DJSONTREE_WERROR=ON \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
	$(CMAKE) --build $(ARM_BUILD_DIR) -j $(JOBS)

check-arm: arm
	cd $(ARM_BUILD_DIR) && ctest --output-on-failure -j $(JOBS) -LE long
	.ci/check-arm-binary $(ARM_BUILD_DIR)/configure_qrn

# libFuzzer targets (clang); fuzz-run runs each for FUZZ_SECONDS on a copy of
# the committed seed corpus.
fuzz:
	CC=clang CXX=clang++ $(CMAKE) -S . -B $(FUZZ_BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DJSONTREE_FUZZ=ON -DJSONTREE_TESTS=OFF -DJSONTREE_WERROR=ON
	$(CMAKE) --build $(FUZZ_BUILD_DIR) -j $(JOBS)

fuzz-run: fuzz
	set -e; for fuzzer in $(FUZZERS); do \
	  corpus=$(FUZZ_BUILD_DIR)/corpus/$$fuzzer; log=$(FUZZ_BUILD_DIR)/$$fuzzer.log; \
	  mkdir -p $$corpus; cp fuzz/corpus/$$fuzzer/* $$corpus/; \
	  ./$(FUZZ_BUILD_DIR)/fuzz/$$fuzzer -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -max_len=4096 $$corpus > $$log 2>&1 || { tail -40 $$log; exit 1; }; \
	  echo "$$fuzzer: $$(grep stat::number_of_executed_units $$log)"; \
	done

# Installs into a scratch prefix and builds two small consumers against it.
install-check: release
	.ci/check-install $(RELEASE_DIR) $(INSTALL_CHECK_DIR)

# Throughput and heap against baseline libraries, and the command line
# against cJSON and jq; installs the baselines itself (see bench/run-bench).
bench: release
	RELEASE_DIR=$(RELEASE_DIR) bench/run-bench

clean:
	rm -rf $(BUILD_DIR) $(ASAN_BUILD_DIR) $(RELEASE_DIR) $(ARM_BUILD_DIR) $(INSTALL_CHECK_DIR) $(FUZZ_BUILD_DIR)
