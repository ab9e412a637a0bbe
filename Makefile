# Front door of the build: set-up, build, run and test. CMake + Ninja do the work.
BUILD   ?= build
ASAN    ?= build-asan
PREFIX  ?= /usr/local
JOBS    ?= $(shell nproc)
# What `make gc-stress` runs; CI takes the transcripts and the random programs only, for time.
GC_STRESS_LABELS ?= transcripts|unit|random-programs
CMAKE_FLAGS ?=

.PHONY: all zel deps configure run test asan asan-build bench gc-stress fuzz install clean

all: configure
	cmake --build $(BUILD) -j $(JOBS)

deps:
	@scripts/install-deps

configure: deps
	@if [ ! -f $(BUILD)/build.ninja ]; then cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS); fi

# Only the program: the tests are built by `make test`.
zel: configure
	cmake --build $(BUILD) -j $(JOBS) --target zel

run: zel
	./$(BUILD)/zel

test: all
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# One sanitizer build serves the tests and the fuzzers: clang, with the fuzz harnesses.
asan-build: deps
	@if [ ! -f $(ASAN)/build.ninja ]; then CXX=clang++ cmake -S . -B $(ASAN) -G Ninja -DZEL_SANITIZE=ON -DZEL_FUZZ=ON $(CMAKE_FLAGS); fi
	cmake --build $(ASAN) -j $(JOBS)

asan: asan-build
	cd $(ASAN) && ASAN_OPTIONS=detect_leaks=0 ctest --output-on-failure -j $(JOBS)

bench: all
	@bench/run $(BUILD)/zel
	@cmake --build $(BUILD) --target zel_gui_bench >/dev/null && $(BUILD)/zel_gui_bench
	@cmake --build $(BUILD) --target zel_draw_bench >/dev/null && $(BUILD)/zel_draw_bench
	@cmake --build $(BUILD) --target zel_kinds_bench >/dev/null && $(BUILD)/zel_kinds_bench

gc-stress: all
	cd $(BUILD) && ZEL_GC_STRESS=1 ctest --output-on-failure -j $(JOBS) -L '$(GC_STRESS_LABELS)'

fuzz: asan-build
	@tests/fuzz/run $(ASAN)

install: zel
	install -D -m 755 $(BUILD)/zel $(DESTDIR)$(PREFIX)/bin/zel

clean:
	rm -rf $(BUILD) $(ASAN) build-fuzz
