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
	@bench/run.sh build

# The same programs on 20,000,000 rows (data cached in build/bench-data/; several GB).
.PHONY: bench-large
bench-large: deps
	@cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DORV_BENCH=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j $(JOBS)
	@bench/run.sh build --large

# Each fuzzer for FUZZ_SECONDS, from its saved corpus (plus the real QVD files for the QVD
# targets); new inputs go to build-fuzz/corpus/, crashes to build-fuzz/crashes/.
FUZZ_SECONDS ?= 60
SAMPLES ?= $(firstword $(wildcard ../shared/qvd-samples /work/shared/qvd-samples))
fuzz: deps
	@cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
	  -DORV_FUZZ=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build build-fuzz -j $(JOBS)
	@mkdir -p build-fuzz/crashes
	@for f in build-fuzz/fuzz/*_fuzz; do \
	  n=$$(basename $$f _fuzz); mkdir -p build-fuzz/corpus/$$n; \
	  extra=; case $$n in qvd_*) extra=$(SAMPLES);; esac; \
	  echo "fuzzing $$n for $(FUZZ_SECONDS) s"; \
	  $$f -max_total_time=$(FUZZ_SECONDS) -artifact_prefix=build-fuzz/crashes/$$n- \
	    -print_final_stats=1 build-fuzz/corpus/$$n fuzz/corpus/$$n $$extra 2>&1 | \
	    grep -E '^(stat::number_of_executed_units|==.*ERROR|SUMMARY)' || true; \
	done

format:
	@git ls-files '*.cc' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan build-fuzz
