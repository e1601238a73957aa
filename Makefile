# Lirenta: the two commands a developer needs are `make demo` and `make test`.
BUILD_DIR   ?= build
BUILD_TYPE  ?= RelWithDebInfo
JOBS        ?= 2

# Debian packages the project builds, tests and demonstrates with.
PACKAGES := cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev \
            libfltk1.3-dev libx11-dev xvfb xdotool imagemagick x11-utils \
            libfbclient2 firebird3.0-server-core firebird3.0-utils firebird-dev firebird3.0-server \
            clang-14 libclang-rt-14-dev libcurl4-openssl-dev

.PHONY: all deps build test demo demo-gui bench fuzz clean install

all: build

deps:
	@PACKAGES="$(PACKAGES)" bash scripts/install-deps.sh

$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

build: $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j$(JOBS)

test: deps build
	cd $(BUILD_DIR) && ctest --output-on-failure -j$(JOBS)

demo: deps build
	@if [ -x scripts/demo.sh ]; then bash scripts/demo.sh $(BUILD_DIR) console; else $(BUILD_DIR)/bin/lirenta; fi

demo-gui: deps build
	bash scripts/demo.sh $(BUILD_DIR) gui

bench: deps build
	@if [ -x scripts/bench.sh ]; then bash scripts/bench.sh $(BUILD_DIR); else echo "no benchmarks yet"; fi

fuzz: deps
	@if [ -x scripts/fuzz.sh ]; then bash scripts/fuzz.sh 60; else echo "no fuzz targets yet"; fi

install: build
	cmake --install $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR)
