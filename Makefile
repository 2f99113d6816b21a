# The two commands a newcomer needs: `make demo` and `make test`.
BUILD := build
TEST_BUILD := build-test
JOBS := $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build demo test deps

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j$(JOBS)

demo: build
	bash devhost/demo.sh

deps:
	bash scripts/install-deps.sh

# Every test runs against the sanitizer build.
test: deps
	cmake -S . -B $(TEST_BUILD) -DCMAKE_BUILD_TYPE=Asan
	cmake --build $(TEST_BUILD) -j$(JOBS)
	ctest --test-dir $(TEST_BUILD) --output-on-failure -j$(JOBS)
