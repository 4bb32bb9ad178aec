# Thin wrapper over CMake. `make demo` builds and solves a random instance;
# `make test` builds and runs every test, the Python module's included.
# BUILD and JOBS may be overridden.
# Every build first makes sure the Debian packages it needs (.ci/packages)
# are there: run as root it installs the missing ones, otherwise it stops with
# the command that does.
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
JOBS ?= $(shell nproc)
DEMO_CITIES ?= 150

FUZZ_BUILD ?= build-fuzz
TSAN_BUILD ?= build-tsan
FUZZ_SECONDS ?= 60
INSTALL_PACKAGES = bash .ci/install-packages

.PHONY: all build demo test test-python example test-sanitize test-tsan fuzz clean

all: build

build:
	@$(INSTALL_PACKAGES) build
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

# Writes a random instance with the generator, then solves it serially and
# with the OpenMP thread team.
demo: build
	mkdir -p demo
	$(BUILD)/bin/generator $(DEMO_CITIES) demo/random$(DEMO_CITIES).txt
	@echo "solver demo/random$(DEMO_CITIES).txt"
	@$(BUILD)/bin/solver demo/random$(DEMO_CITIES).txt
	@echo "solver parallel demo/random$(DEMO_CITIES).txt"
	@$(BUILD)/bin/solver parallel demo/random$(DEMO_CITIES).txt

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	$(MAKE) --no-print-directory test-python

# The Python module as a user installs it: pip install . into a virtual
# environment over Debian's Python and its packages (numpy, pytest), offline,
# then its tests, which compare it with the solver program. The module's CMake
# build stays in $(BUILD)/python, so that a second run only recompiles what
# changed.
VENV = $(BUILD)/venv
test-python: build
	test -x $(VENV)/bin/python || /usr/bin/python3 -m venv --system-site-packages $(VENV)
	ATSP_PYTHON_BUILD=$(abspath $(BUILD))/python ATSP_PYTHON_JOBS=$(JOBS) \
		$(VENV)/bin/pip install --quiet --no-build-isolation --no-deps --no-index .
	ATSP_SOLVER=$(abspath $(BUILD))/bin/solver \
		$(VENV)/bin/python -m pytest -p no:cacheprovider python/tests

# Installs the library into EXAMPLE_DIR/prefix and builds and runs examples/
# against it there, as another project would use it.
EXAMPLE_DIR ?= $(BUILD)/example
example: build
	rm -rf $(EXAMPLE_DIR)/prefix $(EXAMPLE_DIR)/build
	cmake --install $(BUILD) --prefix $(EXAMPLE_DIR)/prefix
	cmake -S examples -B $(EXAMPLE_DIR)/build -DCMAKE_PREFIX_PATH=$(abspath $(EXAMPLE_DIR))/prefix
	cmake --build $(EXAMPLE_DIR)/build
	$(EXAMPLE_DIR)/build/solveMatrix

# The same tests built with AddressSanitizer (leak checking included) and
# UndefinedBehaviorSanitizer.
test-sanitize:
	@$(INSTALL_PACKAGES) build
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DATSP_SANITIZE=ON \
		-DATSP_BUILD_BENCHMARKS=OFF
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && ctest --output-on-failure -j $(JOBS)

# The parallel tests built with clang, LLVM's OpenMP runtime and
# ThreadSanitizer. The runtime's Archer tool tells ThreadSanitizer about
# OpenMP's own synchronisation (barriers, the end of a parallel region), so a
# report is a race or lock misuse of ours; the uninstrumented GoogleTest
# library is left out of the analysis. The runtime's consistency checks
# (KMP_CONSISTENCY_CHECK=all) abort on misuse of its own locks as well.
ARCHER = $(firstword $(wildcard /usr/lib/llvm-*/lib/libarcher.so))
test-tsan:
	@$(INSTALL_PACKAGES) build fuzz
	CXX=clang++ cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DATSP_THREAD_SANITIZE=ON -DATSP_BUILD_BENCHMARKS=OFF
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	cd $(TSAN_BUILD) && OMP_TOOL_LIBRARIES=$(ARCHER) KMP_CONSISTENCY_CHECK=all \
		TSAN_OPTIONS="halt_on_error=1 ignore_noninstrumented_modules=1" \
		ctest --output-on-failure -j $(JOBS) -R 'Parallel|TreeSearch|SearchEngine|SearchRules|SearchOptimum|RWLock|SearchLimits|TsplibSearch|RoundWalk'

# Runs each libFuzzer target for FUZZ_SECONDS, starting from the seed corpus
# in fuzz/corpus; new inputs go to the build folder, not into the repository.
fuzz:
	@$(INSTALL_PACKAGES) build fuzz
	CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DATSP_FUZZ=ON \
		-DATSP_BUILD_TESTS=OFF -DATSP_BUILD_BENCHMARKS=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	for target in $(notdir $(basename $(wildcard fuzz/*Fuzz.cpp))); do \
		mkdir -p $(FUZZ_BUILD)/corpus/$$target && \
		$(FUZZ_BUILD)/bin/$$target -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
			$(FUZZ_BUILD)/corpus/$$target fuzz/corpus/$$target || exit 1; \
	done

# Builds the Release programs, runs the benchmark suite (bench/runBenchmarks.py
# measures and writes CSV files) and fills the page from them
# (bench/writeReport.py draws the plots and refills the tables of
# docs/benchmarks.md). It needs a quiet machine and about 70 minutes (README).
# BENCH_QUICK=1 runs a few small sizes with short limits in a few minutes and
# writes to $(BUILD)/bench-quick/ instead: the CSV files and plots in
# benchmarks/ there, and a filled copy of the page beside them.
# BENCH_BASELINE=DIR also times the solver of DIR, the build folder of an
# earlier commit; BENCH_ARGS passes more options to the runner (--tsplib DIR,
# where the TSPLIB instances are not in ../shared/tsplib). The runner's status 1 (runs disagree on a cost) still fills
# the page, which lists the disagreement, and then fails; status 2 (a program
# is missing) leaves the page alone.
BENCH_QUICK ?=
BENCH_BASELINE ?=
BENCH_ARGS ?=
PYTHON ?= /usr/bin/python3
BENCH_DATA = $(if $(BENCH_QUICK),$(BUILD)/bench-quick/benchmarks,docs/benchmarks)
BENCH_PAGE = $(if $(BENCH_QUICK),$(BUILD)/bench-quick/benchmarks.md,docs/benchmarks.md)
.PHONY: bench
bench:
	@$(INSTALL_PACKAGES) build bench
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS) --target solver searchBench peakMemory generateFamily
	status=0; $(PYTHON) bench/runBenchmarks.py --build $(BUILD) --out $(BENCH_DATA) \
		$(if $(BENCH_QUICK),--quick) $(if $(BENCH_BASELINE),--baseline $(BENCH_BASELINE)) $(BENCH_ARGS) || status=$$?; \
	if [ $$status -eq 2 ]; then exit 2; fi; \
	$(PYTHON) bench/writeReport.py --data $(BENCH_DATA) --output $(BENCH_PAGE) || exit $$?; \
	exit $$status

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(FUZZ_BUILD) $(TSAN_BUILD) demo
