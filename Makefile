# The two commands a newcomer needs: `make demo` and `make test`.
BUILD := build
TEST_BUILD := build-test
WIN_BUILD := build-win
FUZZ_BUILD := build-fuzz
FUZZ_SECONDS := 60
JOBS := $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build windows demo test bench fuzz fuzz-build

all: build

# The Release binary alone: the demo and the benchmarks need nothing else,
# and the tests have their own build.
build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
	cmake --build $(BUILD) -j$(JOBS) --target plugin_sqlite

# The Windows executable, cross-built: $(WIN_BUILD)/plugin_sqlite.exe.
windows:
	cmake --toolchain cmake/mingw-w64-x86_64.cmake -S . -B $(WIN_BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(WIN_BUILD) -j$(JOBS) --target plugin_sqlite

demo:
	bash scripts/install-deps.sh demo
	$(MAKE) build
	bash devhost/demo.sh

# Every Linux test runs against the sanitizer build; each fuzz target runs
# for 10 seconds over its corpus; then the Windows build's tests run under
# Wine.
test:
	bash scripts/install-deps.sh test
	cmake -S . -B $(TEST_BUILD) -DCMAKE_BUILD_TYPE=Asan
	cmake --build $(TEST_BUILD) -j$(JOBS)
	$(MAKE) fuzz-build
	ctest --test-dir $(TEST_BUILD) --output-on-failure -j$(JOBS)
	ctest --test-dir $(FUZZ_BUILD) --output-on-failure -j$(JOBS)
	JOBS=$(JOBS) bash scripts/test-windows.sh $(WIN_BUILD)

# The libFuzzer targets, built with clang.
fuzz-build:
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=Fuzz \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_BUILD) -j$(JOBS)

# Every fuzz target for FUZZ_SECONDS each, one after the other; any finding
# fails (it is left under $(FUZZ_BUILD)/fuzz/findings/).
fuzz:
	bash scripts/install-deps.sh test
	$(MAKE) fuzz-build
	bash fuzz/run_all.sh $(FUZZ_BUILD)/fuzz $(FUZZ_SECONDS)

# Whole-process timings and instruction counts against named peers, and
# peak memory; not part of the tests.
bench:
	bash scripts/install-deps.sh bench
	$(MAKE) build
	nice -n 10 python3 bench/bench.py $(BUILD)/plugin_sqlite
