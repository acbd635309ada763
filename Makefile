# Each target installs only the Debian packages its purpose needs (tools/setup-deps.sh PURPOSE)
# and configures with KRO_REQUIRE naming the parts it runs, so that a missing package stops it
# instead of leaving a part out.
# make       - install everything, build everything
# make test  - install what is missing, build, run every test on a private Xvfb screen, then
#              check that the tests stay within their share of the code (tools/test-share)
# make run   - install what the intro needs, build and play it
# make view  - build kroview and open FILE (default the showcase scene on the sample ground)
# make bench - build and run the benchmarks
# make fuzz  - every libFuzzer target for FUZZ_SECONDS seconds (default 60); fails on any finding
# make test-sanitize - the whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer,
#                      float-to-integer overflow included
# make release - the intro built for size (at most 64 KiB) and packed: dist/
# make video - the intro as an H.264 video, out/zkintro.mp4 (installs ffmpeg)
# make web   - the intro and the examples as web pages (emscripten, WebGL 1): dist/web/<name>/
#              (index.html, .js, .wasm, .data), each page's size printed gzipped; serve the
#              folder with any static server, e.g. python3 -m http.server -d dist/web
BUILD ?= build
SANITIZE_BUILD ?= build-asan
JOBS ?= 2
# CMake's generated makefiles run as sub-makes: no "Entering directory" lines.
MAKEFLAGS += --no-print-directory

.PHONY: all setup configure build test test-unit test-sanitize test-share fuzz fuzz-smoke run \
	view bench release video scenes web clean

all: build

setup:
	@bash tools/setup-deps.sh all

# $(call configure_for,PARTS): configures $(BUILD) with those parts required (KRO_REQUIRE).
# A compiler cache, where the machine has one, serves the builds that make test
# repeats (the same sources in the plain, sanitizer and packaging builds).
LAUNCHER := $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
# The compiler cache serves every checkout of the tree, wherever it lies: paths below it are
# hashed relative to it, and the working folder of a build with debug information is not hashed.
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1
configure_for = cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(LAUNCHER) -DKRO_REQUIRE="$(1)" >/dev/null

configure: setup
	@$(call configure_for,all)

build: configure
	@cmake --build $(BUILD) -j$(JOBS)

# The plain suite runs after the others so that its summary comes last; then the
# size check: `make test` fails when the tests' lines pass TEST_SHARE_MAX per
# cent of the code's (tools/test-share prints how they are counted).
TEST_SHARE_MAX ?= 35
test: test-sanitize fuzz-smoke test-unit
	@$(MAKE) test-share

test-share:
	@tools/test-share --max $(TEST_SHARE_MAX)

test-unit: build
	@tools/with-display ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

# Leak detection is on; leaks inside the system's GL, X and SDL libraries are
# suppressed (tools/sanitizers.supp). Mesa runs no thread of its own here: the
# software renderer draws without its workers (LP_NUM_THREADS=0) and no shader
# cache is kept, whose writer is a thread too (MESA_SHADER_CACHE_DISABLE). The
# leak checker stops every thread at exit and has crashed doing so with the
# driver's threads about. It also crashed at exit (its tracer thread, 1 run in 2
# under load) where its __tls_get_addr hook took a dynamic TLS block that
# happened to start 16 bytes into a page for one with an old glibc's header:
# intercept_tls_get_addr=0 leaves that hook out.
test-sanitize: setup
	@cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKRO_SANITIZE=ON -DKRO_BENCH=OFF $(LAUNCHER) \
	  -DKRO_REQUIRE=all >/dev/null
	@cmake --build $(SANITIZE_BUILD) -j$(JOBS)
	@LP_NUM_THREADS=0 MESA_SHADER_CACHE_DISABLE=true ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:intercept_tls_get_addr=0 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tools/sanitizers.supp \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  tools/with-display ctest --test-dir $(SANITIZE_BUILD) --output-on-failure -j$(JOBS)

# Plays the intro on the user's display. Without a display it plays it under
# Xvfb, then renders what it showed into out/ with zkcapture: a contact sheet
# and every frame at RUN_FPS per second. krotool is built too, for the
# README's commands.
RUN_FPS ?= 30
run:
	@bash tools/setup-deps.sh run
	@$(call configure_for,intro;zkcapture)
	@cmake --build $(BUILD) --target zkintro zkcapture krotool -j$(JOBS)
	@if [ -n "$${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then \
	  echo "Playing ZKintro full screen with its sound (14 s); Escape ends it earlier."; \
	  $(BUILD)/zkintro; \
	else \
	  echo "No display: playing the intro under Xvfb (14 s)..."; \
	  tools/with-display $(BUILD)/zkintro || exit 1; \
	  echo "Rendering what it showed into out/ ..."; \
	  rm -rf out/frames; \
	  tools/with-display $(BUILD)/intro-tools/zkcapture --sheet --fps $(RUN_FPS) --out out || exit 1; \
	  echo "Contact sheet: out/zkintro-sheet.png (one frame per second)"; \
	  echo "Frames: out/frames/zkintro-NNNN.png ($(RUN_FPS) per second); as a video: make video"; \
	fi

# Opens FILE in kroview on the user's display. Without a display there is no
# window to look at: it renders the model's first frame into out/ instead.
# The default is the showcase scene that intro-tools/zkassets writes (assets/showcase.ase:
# several objects and materials, smooth and flat normals) standing on the sample
# ground. The project's own models (assets/) are made +y up; any other file gets
# kroview's default for its format (ASE +z, OBJ and glTF +y; UP=+z or another
# axis overrides).
FILE ?= assets/showcase.ase
UP ?= $(if $(filter assets/%,$(FILE)),+y)
VIEW_OPTIONS ?= $(if $(filter assets/showcase.ase,$(FILE)),--terrain viewer/data/terrain.bmp)
view:
	@bash tools/setup-deps.sh view
	@$(call configure_for,viewer)
	@cmake --build $(BUILD) --target kroview -j$(JOBS)
	@if [ -n "$${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then \
	  $(BUILD)/viewer/kroview "$(FILE)" $(if $(UP),--up $(UP)) $(VIEW_OPTIONS); \
	else \
	  echo "No display: rendering $(FILE) under Xvfb into out/kroview.png"; \
	  mkdir -p out && tools/with-display $(BUILD)/viewer/kroview "$(FILE)" $(if $(UP),--up $(UP)) $(VIEW_OPTIONS) --shot out/kroview.png; \
	fi

# The release: the build's `release` target makes the size-built intro, refuses
# it beyond 65,536 bytes (saying by how much) and packs it with its README;
# each file is copied beside its place in dist/ and renamed over it.
release:
	@bash tools/setup-deps.sh release
	@$(call configure_for,intro)
	@cmake --build $(BUILD) --target release -j$(JOBS)
	@mkdir -p dist
	@for f in $(BUILD)/dist/*; do \
	  cp "$$f" "dist/.$${f##*/}.tmp" && mv -f "dist/.$${f##*/}.tmp" "dist/$${f##*/}" || exit 1; \
	done
	@ls -l dist

# The whole intro at 60 frames per second, rendered off-screen with the real
# scene and piped into ffmpeg, then read back and checked with ffprobe.
video:
	@bash tools/setup-deps.sh video
	@$(call configure_for,zkcapture)
	@cmake --build $(BUILD) --target zkcapture -j$(JOBS)
	@tools/with-display $(BUILD)/intro-tools/zkcapture --video --out out
	@tools/check-video out/zkintro.mp4 840

# The Blender test scenes and Blender's renders of them, made again in place (tests/data/blender).
scenes:
	@bash tools/setup-deps.sh scenes
	@blender -b --factory-startup -P tests/data/blender/make-scenes.py -- tests/data/blender

# Each program also leaves its results in $(BUILD)/bench/results/; the table
# of goals (engine, peer, ratio, goal, whether it holds) closes the output.
bench:
	@bash tools/setup-deps.sh bench
	@$(call configure_for,bench)
	@cmake --build $(BUILD) -j$(JOBS)
	@mkdir -p $(BUILD)/bench/results && rm -f $(BUILD)/bench/results/*.json
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && tools/with-display "$$b" \
	  --benchmark_out=$(BUILD)/bench/results/$$(basename $$b).json --benchmark_out_format=json; done
	@$(BUILD)/bench/kro-bench-summary $(BUILD)/bench/results/*.json
	@tools/web-test --bench $(BUILD)/intro-tools/zkcapture $(BUILD)/web-bench $(abspath $(BUILD)); \
	  status=$$?; [ $$status -eq 0 ] || [ $$status -eq 77 ]

# The web build is a second CMake tree configured by emscripten's emcmake; Debian's emscripten
# runs its optimiser with the system's node modules (NODE_PATH).
WEB_BUILD ?= build-web
# The text, textured and scene pages take krotool's output and the default font from the native
# build ($(BUILD)), configured here if it is not yet.
web:
	@bash tools/setup-deps.sh web engine
	@[ -f $(BUILD)/CMakeCache.txt ] || $(call configure_for,)
	@cmake --build $(BUILD) -j$(JOBS) --target krotool kroview_font
	@NODE_PATH=/usr/share/nodejs emcmake cmake -S . -B $(WEB_BUILD) -DCMAKE_BUILD_TYPE=MinSizeRel \
	  $(LAUNCHER) -DKRO_WEB_NATIVE=$(abspath $(BUILD)) >/dev/null
	@NODE_PATH=/usr/share/nodejs cmake --build $(WEB_BUILD) -j$(JOBS)
	@tools/web-dist $(WEB_BUILD)/web dist/web

fuzz:
	@bash tools/setup-deps.sh fuzz
	@FUZZ_SECONDS=$${FUZZ_SECONDS:-60} tools/run-fuzz

# A few seconds per target: enough to catch a regression on the seed files.
fuzz-smoke:
	@bash tools/setup-deps.sh fuzz
	@FUZZ_SECONDS=5 tools/run-fuzz

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) build-fuzz
