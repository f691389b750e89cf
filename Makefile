# Thin wrapper over CMake. `make run` and `make check` are the two entry points.
BUILD_DIR      ?= build
ASAN_BUILD_DIR ?= build-asan
RELEASE_DIR    ?= build-release
JOBS           ?= $(shell nproc)
CMAKE          ?= cmake
EXAMPLE        ?= examples/global_conf.json
EXAMPLE_PATH   ?= network.lora.frequency_hz

.PHONY: all release run check test test-asan clean

all: release

release:
	$(CMAKE) -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DJSONTREE_TESTS=OFF
	$(CMAKE) --build $(RELEASE_DIR) -j $(JOBS)

run: release
	./$(RELEASE_DIR)/configure_qrn --file $(EXAMPLE) $(EXAMPLE_PATH)

test:
	$(CMAKE) -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	$(CMAKE) --build $(BUILD_DIR) -j $(JOBS)
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

test-asan:
	$(CMAKE) -S . -B $(ASAN_BUILD_DIR) -DCMAKE_BUILD_TYPE=Debug -DJSONTREE_SANITIZE=ON
	$(CMAKE) --build $(ASAN_BUILD_DIR) -j $(JOBS)
	cd $(ASAN_BUILD_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

check: test test-asan

clean:
	rm -rf $(BUILD_DIR) $(ASAN_BUILD_DIR) $(RELEASE_DIR)
