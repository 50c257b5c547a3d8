# The front doors: `make run`, `make test`, `make test-asan` and `make fuzz`. Everything else is CMake.
# On a bare machine run `bash scripts/install-deps` first: it installs make itself.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
# Seconds each fuzz harness runs.
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc)

# Leaks are reported for our code only; scripts/lsan.supp names the system libraries that
# keep their allocations until exit. UBSan aborts at the first fault, ASan at the first error.
SANITIZER_ENV = \
	ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1 \
	UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0

.PHONY: run test test-asan fuzz build build-asan deps clean

run: build
	scripts/run-app $(BUILD)/mp3cutter

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

test-asan: build-asan
	cd $(ASAN_BUILD) && QT_QPA_PLATFORM=offscreen $(SANITIZER_ENV) ctest --output-on-failure -j $(JOBS)

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

# -O1 keeps the sanitized build and its tests quick while the stacks stay readable.
build-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" -DMP3CUTTER_SANITIZE=ON -DMP3CUTTER_BENCHMARKS=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)

# The fuzz harnesses, in a tree of their own built with Clang, each run from the seeds and what
# earlier runs learnt; scripts/fuzz says where what they find goes.
fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
		-DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" -DMP3CUTTER_FUZZ=ON -DMP3CUTTER_BENCHMARKS=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_cut fuzz_texts fixtures
	bash scripts/fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS)

deps:
	bash scripts/install-deps

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
