# The two front doors: `make run` and `make test`. Everything else is CMake.
BUILD ?= build
JOBS  ?= $(shell nproc)

.PHONY: run test build deps clean

run: build
	scripts/run-app $(BUILD)/mp3cutter

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

deps:
	scripts/install-deps

clean:
	rm -rf $(BUILD)
