# Release build into build/, sanitizer build into build-asan/, fuzzers into build-fuzz/.
JOBS ?= 2
CMAKE_FLAGS ?=

.PHONY: all deps build test test-release test-asan demo bench fuzz format clean

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B build -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j $(JOBS)

# The whole suite in Release, then again under AddressSanitizer and UndefinedBehaviorSanitizer.
test: build
	@cd build && ctest --output-on-failure -j $(JOBS)
	@$(MAKE) --no-print-directory test-asan

test-release: build
	@cd build && ctest --output-on-failure -j $(JOBS)

test-asan: deps
	@cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
	  -DORV_SANITIZE=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-asan -j $(JOBS)
	@cd build-asan && ctest --output-on-failure -j $(JOBS)

demo: build
	@scripts/demo build/bin

bench: deps
	@cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DORV_BENCH=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j $(JOBS)
	@for b in build/bench/bench_*; do $$b; done
	@bench/drawoff.sh build

fuzz: deps
	@cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
	  -DORV_FUZZ=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-fuzz -j $(JOBS)
	@echo "fuzzers are in build-fuzz/fuzz/"

format:
	@git ls-files '*.cc' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan build-fuzz
