# Release build into build/, sanitizer build into build-asan/, fuzzers into build-fuzz/.
JOBS ?= 2
CMAKE_FLAGS ?=

.PHONY: all deps build test test-release test-asan demo bench fuzz format clean install

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

# Benchmarks (Release with -DORV_BENCH=ON; data cached in build/bench-data/). Every program figure
# is taken at --threads=1 and at the default thread count, in alternating runs (BENCH_RUNS, default
# 7, each), with the median speed-up of the pairs, peak memory (GNU time) and the ratio to `cat` of
# the same bytes; each round also runs one copy a core at --threads=1 at once, what the cores give
# work that shares nothing.
#   make bench          text micro-benchmarks, then 2,000,000 rows of a random, a realistic and a
#                       few-symbol file (a few minutes on 2 cores): bench/results.md
#   make bench-large    the same on 20,000,000 rows (several GB), then bench-memory
#   make bench-memory   packdown's peak memory on 25 M distinct ints, 25 M ints of 100 values,
#                       10 M 7-byte strings, 80 MB of decimal(38) and a table of 100 int
#                       columns: bench/results-memory.md
.PHONY: bench-build bench-large bench-memory
bench-build: deps
	@cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DORV_BENCH=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j $(JOBS)

bench: bench-build
	@for b in build/bench/bench_*; do $$b; done
	@bench/run.sh build

bench-large: bench-build
	@bench/run.sh build --large
	@bench/memory.sh build

bench-memory: bench-build
	@bench/memory.sh build

# Each fuzzer for FUZZ_SECONDS, from its saved corpus (plus the real QVD files for the QVD
# targets); new inputs go to build-fuzz/corpus/, crashes to build-fuzz/crashes/. Records are cut
# into chunks of 64 bytes, so that inputs of a few hundred bytes take the paths of several chunks
# on several threads.
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
	  ORV_CHUNK_BYTES=64 $$f -max_total_time=$(FUZZ_SECONDS) -artifact_prefix=build-fuzz/crashes/$$n- \
	    -print_final_stats=1 build-fuzz/corpus/$$n fuzz/corpus/$$n $$extra 2>&1 | \
	    grep -E '^(stat::number_of_executed_units|==.*ERROR|SUMMARY)' || true; \
	done

# The four programs into $(DESTDIR)$(PREFIX)/bin, a man page each, made from its --help and
# --version by help2man, into $(DESTDIR)$(PREFIX)/share/man/man1.
PREFIX ?= /usr/local
PROGRAMS = drawoff packdown feedout tablepeek
install: build
	@install -d $(DESTDIR)$(PREFIX)/bin $(DESTDIR)$(PREFIX)/share/man/man1 build/man
	@for p in $(PROGRAMS); do \
	  case $$p in drawoff) n="QVD file to records";; packdown) n="records to a QVD file";; \
	    feedout) n="records to a QVX file";; tablepeek) n="a QVD file's header as text, JSON, XML or a layout";; esac; \
	  install -m 755 build/bin/$$p $(DESTDIR)$(PREFIX)/bin/$$p && \
	  help2man --no-info --name="$$n" --output=build/man/$$p.1 build/bin/$$p && \
	  install -m 644 build/man/$$p.1 $(DESTDIR)$(PREFIX)/share/man/man1/$$p.1 || exit 1; \
	done
	@echo "installed $(PROGRAMS) into $(DESTDIR)$(PREFIX)"

format:
	@git ls-files '*.cc' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan build-fuzz
