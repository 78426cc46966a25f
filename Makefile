# Thin wrapper over CMake + Ninja. `make test` and `make bench` install any
# missing Debian packages first (tools/bootstrap.sh).

BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all bootstrap configure build test bench run clean

all: build

bootstrap:
	@tools/bootstrap.sh

configure: bootstrap
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --repeat until-pass:2

bench: build
	@for b in $(BUILD)/bench/bench_*; do echo "== $$b"; $$b $(BENCH_ARGS) || exit 1; done

# The operator stack on loopback and the client against it (tools/run/run.sh).
run: configure
	cmake --build $(BUILD) -j $(JOBS) --target vokar vokar-operatord vokar-accounts \
	  $$(test -f cli/CMakeLists.txt && echo vokar-cli)
	@tools/run/run.sh $(BUILD)

clean:
	rm -rf $(BUILD)
