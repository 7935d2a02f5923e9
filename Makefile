# Muralo: every set-up step on a fresh Debian 12 machine is behind these targets.
#   make run   installs what is missing, builds, starts Muralo
#   make test  installs what is missing, builds, runs every test (normal build, then sanitizers, then fuzzers)
#   make install [PREFIX=/usr] [DESTDIR=dir]   installs the programs, help, menu entry, icons, manual pages
#   make package                               builds the Debian package with CPack

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
CMAKE_FLAGS ?=
CTEST_FLAGS ?= --output-on-failure -j$(JOBS)

# ccache shares its entries between checkouts in other folders (CI clones afresh).
export CCACHE_BASEDIR ?= $(CURDIR)
export CCACHE_NOHASHDIR ?= 1


PREFIX ?= /usr/local

.PHONY: all deps build build-asan build-fuzz run install package test test-main test-asan test-fuzz bench format format-check clean

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

# make install [PREFIX=/usr] [DESTDIR=/staging]
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package (muralo_<version>_<arch>.deb) in the build folder.
package: build
	cd $(BUILD) && cpack -G DEB

test: format-check test-main test-asan test-fuzz

# The end-to-end runs (real X servers, desktops, a tray host) come after the rest, one at a time, and
# a run that fails is tried once more: under a loaded machine a tray host or a desktop component can
# miss its start-up deadline. A test that fails twice fails the suite.
E2E_LABELS = e2e|desktops
E2E_FLAGS = --output-on-failure --repeat until-pass:2

test-main: build
	cd $(BUILD) && ctest $(CTEST_FLAGS) -LE '$(E2E_LABELS)' && ctest $(E2E_FLAGS) -L '$(E2E_LABELS)'

test-asan: build-asan
	cd $(ASAN_BUILD) && export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 && \
	  ctest $(CTEST_FLAGS) -LE '$(E2E_LABELS)' && ctest $(E2E_FLAGS) -L '$(E2E_LABELS)'

test-fuzz: build-fuzz
	cd $(FUZZ_BUILD) && ctest $(CTEST_FLAGS)

bench: build
	@for b in $$(find $(BUILD)/bench -mindepth 2 -maxdepth 2 -type f -executable | sort); do \
	  echo "== $$b"; "$$b" --benchmark_min_time=0.2 || exit 1; done

format:
	find classlib imaging platform app tools tests bench fuzz -name '*.cpp' -o -name '*.h' | xargs clang-format -i

# Fails on any file that clang-format would change (run `make format` to fix them).
format-check: deps
	find classlib imaging platform app tools tests bench fuzz -name '*.cpp' -o -name '*.h' | xargs clang-format --dry-run --Werror

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
