# Muralo: every set-up step on a fresh Debian 12 machine is behind these targets.
#   make run   installs what is missing, builds, starts Muralo
#   make test  installs what is missing, builds, runs every test (normal build, then sanitizers, then fuzzers)

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
CMAKE_FLAGS ?=
CTEST_FLAGS ?= --output-on-failure -j$(JOBS)

# ccache shares its entries between checkouts in other folders (CI clones afresh).
export CCACHE_BASEDIR ?= $(CURDIR)
export CCACHE_NOHASHDIR ?= 1


.PHONY: all deps build build-asan build-fuzz run test test-main test-asan test-fuzz bench format format-check clean

all: build

deps:
	@bash scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
	  -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DMURALO_WERROR=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

build-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DMURALO_WERROR=ON -DMURALO_SANITIZE=ON \
	  -DMURALO_BENCH=OFF -DMURALO_APP=ON $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j$(JOBS)

build-fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DMURALO_WERROR=ON -DMURALO_FUZZ=ON -DMURALO_TESTS=OFF \
	  -DMURALO_BENCH=OFF -DMURALO_APP=OFF $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) -j$(JOBS)

run: build
	bash scripts/run-muralo $(BUILD)

test: test-main test-asan test-fuzz

test-main: build
	cd $(BUILD) && ctest $(CTEST_FLAGS)

test-asan: build-asan
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest $(CTEST_FLAGS)

test-fuzz: build-fuzz
	cd $(FUZZ_BUILD) && ctest $(CTEST_FLAGS)

bench: build
	@for b in $(BUILD)/bench/*/bench_*; do [ -x "$$b" ] && "$$b" --benchmark_min_time=0.2; done

format:
	find classlib imaging platform app tools tests bench fuzz -name '*.cpp' -o -name '*.h' | xargs clang-format -i

format-check:
	find classlib imaging platform app tools tests bench fuzz -name '*.cpp' -o -name '*.h' | xargs clang-format --dry-run

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
