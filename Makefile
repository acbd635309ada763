# make test  - install what is missing, build, run every test (under Xvfb when there is no display)
# make run   - install what is missing, build and play the intro
# make bench - build and run the benchmarks
BUILD ?= build
JOBS ?= 2

.PHONY: all setup configure build test run bench clean

all: build

setup:
	@bash tools/setup-deps.sh

configure: setup
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

test: build
	@tools/with-display ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && tools/with-display "$$b"; done

clean:
	rm -rf $(BUILD)
