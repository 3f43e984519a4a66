# make test: install what is missing, build both trees, run every test.
NATIVE := build/native
SANITIZED := build/native-sanitized
WINDOWS := build/win
FUZZ := build/fuzz
JOBS ?= 2
# How long each fuzz target runs in `make fuzz`.
FUZZ_SECONDS ?= 60
SANITIZERS := -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer

.PHONY: all deps build native sanitized windows test demo bench fuzz dist clean

all: build

deps:
	@sh tools/install-deps.sh

native: deps
	@cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(NATIVE) -j $(JOBS)

# The native tree again under AddressSanitizer and UndefinedBehaviorSanitizer;
# any report ends the test that made it.
sanitized: deps
	@cmake -S . -B $(SANITIZED) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="$(SANITIZERS)" \
		-DCMAKE_EXE_LINKER_FLAGS="$(SANITIZERS)" >/dev/null
	@cmake --build $(SANITIZED) -j $(JOBS)

windows: deps
	@cmake -S . -B $(WINDOWS) -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
	@cmake --build $(WINDOWS) -j $(JOBS)

build: native windows

# The Wine tests share one prefix and run one at a time.
test: build sanitized
	cd $(NATIVE) && ctest --output-on-failure -j $(JOBS)
	cd $(SANITIZED) && ASAN_OPTIONS=abort_on_error=1:detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
		ctest --output-on-failure -j $(JOBS)
	cd $(WINDOWS) && ctest --output-on-failure
	sh tests/dist/release_test.sh $(NATIVE) $(WINDOWS)

# The simulated instrument on COM1 and the tool: on screen with a display,
# otherwise one headless download per language, with screenshots.
demo: build
	@sh tools/demo.sh $(NATIVE) $(WINDOWS)

# Figures for the serial link under Wine: idle processor time, acknowledgement latency.
bench: build
	sh bench/run.sh $(NATIVE) $(WINDOWS)

# libFuzzer on the engine, the decoder and the list-file rules, with
# AddressSanitizer and UndefinedBehaviorSanitizer, FUZZ_SECONDS each.
fuzz:
	@sh tools/install-deps.sh fuzz
	@cmake -S . -B $(FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
		-DKVR_FUZZ=ON -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link $(SANITIZERS)" \
		-DCMAKE_EXE_LINKER_FLAGS="$(SANITIZERS)" >/dev/null
	@cmake --build $(FUZZ) -j $(JOBS) --target engine_fuzz decoder_fuzz list_file_fuzz
	@sh tests/fuzz/run.sh $(FUZZ) $(FUZZ_SECONDS)

# The release files in dist/, from a clean build: see tools/dist.sh.
dist: deps
	@sh tools/dist.sh

clean:
	rm -rf build
