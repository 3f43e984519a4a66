# make test: install what is missing, build both trees, run every test.
NATIVE := build/native
WINDOWS := build/win
JOBS ?= 2

.PHONY: all deps build native windows test demo bench clean

all: build

deps:
	@sh tools/install-deps.sh

native: deps
	@cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(NATIVE) -j $(JOBS)

windows: deps
	@cmake -S . -B $(WINDOWS) -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
	@cmake --build $(WINDOWS) -j $(JOBS)

build: native windows

# The Wine tests share one prefix and run one at a time.
test: build
	cd $(NATIVE) && ctest --output-on-failure -j $(JOBS)
	cd $(WINDOWS) && ctest --output-on-failure

# The simulated instrument on COM1 and the tool: on screen with a display,
# otherwise one headless download per language, with screenshots.
demo: build
	@sh tools/demo.sh $(NATIVE) $(WINDOWS)

# Figures for the serial link under Wine: idle processor time, acknowledgement latency.
bench: build
	sh bench/run.sh $(NATIVE) $(WINDOWS)

clean:
	rm -rf build
