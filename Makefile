# Lirenta: the two commands a developer needs are `make demo` and `make test`.
BUILD_DIR   ?= build
BUILD_TYPE  ?= RelWithDebInfo
JOBS        ?= 2

# Debian packages the project builds, tests and demonstrates with (man-db: the manual pages
# are rendered by the tests as man renders them; desktop-file-utils and appstream: the tests
# validate the desktop entry and the metainfo file; nginx: a real server's request limiting, run
# by the tests as a private instance; tinyproxy-bin: a real proxy for the proxy routes, the
# program alone without a service, run by the tests as a private instance).
PACKAGES := cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
            libfltk1.3-dev libx11-dev libxdamage-dev xvfb xdotool imagemagick x11-utils \
            libfbclient2 firebird3.0-server-core firebird3.0-utils firebird-dev firebird3.0-server \
            clang-14 libclang-rt-14-dev libcurl4-openssl-dev dpkg-dev file procps \
            libssl-dev openssl ca-certificates clang-format mount man-db \
            desktop-file-utils appstream nginx tinyproxy-bin

.PHONY: all deps build test format-check sanitize-build demo demo-gui bench fuzz clean install package fresh-check

all: build

deps:
	@PACKAGES="$(PACKAGES)" bash scripts/install-deps.sh

# The generated Makefile, not the cache, marks a finished configure: a configure that failed
# leaves a cache behind, and the next build must configure again.
$(BUILD_DIR)/Makefile:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

build: $(BUILD_DIR)/Makefile
	cmake --build $(BUILD_DIR) -j$(JOBS)

# The second tree builds the same suites with AddressSanitizer and UndefinedBehaviorSanitizer.
# intercept_tls_get_addr=0: the sanitizer runtime's record of the thread-local blocks of a
# library loaded at run time goes stale once the Firebird client is unloaded, and the leak
# check at exit then faults ("Tracer caught signal 11") scanning it. Without the record those
# blocks are not scanned; our own thread-locals live in the program and still are.
ASAN_DIR    ?= build-asan
SANITIZER_ENV := ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:detect_odr_violation=0:intercept_tls_get_addr=0 \
                 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizer/lsan-firebird.supp:print_suppressions=0 \
                 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# The sources must be as .clang-format makes them. The plain suites run last, so the run ends
# with their summary.
test: deps format-check build sanitize-build
	FUZZ_DIR=$(FUZZ_DIR) JOBS=$(JOBS) bash scripts/fuzz.sh --smoke $(FUZZ_SMOKE_SECONDS)
	$(SANITIZER_ENV) bash scripts/ctest.sh $(ASAN_DIR) --output-on-failure -j$(JOBS) -LE no-sanitizer
	bash scripts/ctest.sh $(BUILD_DIR) --output-on-failure -j$(JOBS)

format-check: deps
	bash scripts/format-check.sh

# The fuzz tree (clang-14, libFuzzer): `make test` runs every target over its seeds plus a few
# seconds of new inputs; `make fuzz` runs each for a minute.
FUZZ_DIR    ?= build-fuzz
FUZZ_SMOKE_SECONDS ?= 10

$(ASAN_DIR)/Makefile:
	cmake -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLIRENTA_SANITIZE=ON

sanitize-build: $(ASAN_DIR)/Makefile
	cmake --build $(ASAN_DIR) -j$(JOBS)

demo: deps build
	@if [ -x scripts/demo.sh ]; then bash scripts/demo.sh $(BUILD_DIR) console; else $(BUILD_DIR)/bin/lirenta; fi

demo-gui: deps build
	bash scripts/demo.sh $(BUILD_DIR) gui

bench: deps build
	@if [ -x scripts/bench.sh ]; then bash scripts/bench.sh $(BUILD_DIR); else echo "no benchmarks yet"; fi

fuzz: deps
	@if [ -x scripts/fuzz.sh ]; then FUZZ_DIR=$(FUZZ_DIR) JOBS=$(JOBS) bash scripts/fuzz.sh 60; else echo "no fuzz targets yet"; fi

install: build
	cmake --install $(BUILD_DIR)

# build/lirenta_<version>_amd64.deb, installable with apt-get install ./build/lirenta_…_amd64.deb
package: deps build
	cd $(BUILD_DIR) && cpack -G DEB

# make test and make demo in a fresh minimal Debian 12, then the package installed in another.
fresh-check:
	bash scripts/fresh-check.sh

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(FUZZ_DIR)
