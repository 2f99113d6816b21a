# The two commands a newcomer needs: `make demo` and `make test`.
BUILD := build
TEST_BUILD := build-test
JOBS := $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build demo test bench

all: build

# The Release binary alone: the demo and the benchmarks need nothing else,
# and the tests have their own build.
build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
	cmake --build $(BUILD) -j$(JOBS) --target plugin_sqlite

demo:
	bash scripts/install-deps.sh demo
	$(MAKE) build
	bash devhost/demo.sh

# Every test runs against the sanitizer build.
test:
	bash scripts/install-deps.sh test
	cmake -S . -B $(TEST_BUILD) -DCMAKE_BUILD_TYPE=Asan
	cmake --build $(TEST_BUILD) -j$(JOBS)
	ctest --test-dir $(TEST_BUILD) --output-on-failure -j$(JOBS)

# Whole-process timings and instruction counts against named peers, and
# peak memory; not part of the tests.
bench: build
	bash scripts/install-deps.sh bench
	nice -n 10 python3 bench/bench.py $(BUILD)/plugin_sqlite
