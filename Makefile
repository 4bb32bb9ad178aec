# Thin wrapper over CMake. `make demo` builds and solves a random instance;
# `make test` builds and runs every test. BUILD and JOBS may be overridden.
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
JOBS ?= $(shell nproc)
DEMO_CITIES ?= 150

.PHONY: all build demo test test-sanitize clean

all: build

build:
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

# The same tests built with AddressSanitizer (leak checking included) and
# UndefinedBehaviorSanitizer.
test-sanitize:
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DATSP_SANITIZE=ON \
		-DATSP_BUILD_BENCHMARKS=OFF
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) demo
