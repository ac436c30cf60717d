# The two commands: `make run` builds the program and starts the dialogue;
# `make test` builds everything and runs every test.
BUILD ?= build
JOBS ?= 2
CMAKE_EXTRA ?=

.PHONY: run test build clean

build:
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_EXTRA) > $(BUILD).configure.log 2>&1 || { cat $(BUILD).configure.log; exit 1; }
	@cmake --build $(BUILD) -j$(JOBS) > $(BUILD).build.log 2>&1 || { cat $(BUILD).build.log; exit 1; }

run: build
	@./$(BUILD)/blocklevels

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

clean:
	rm -rf $(BUILD) $(BUILD).configure.log $(BUILD).build.log
