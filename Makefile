# The two commands: `make run` builds the program and starts the dialogue;
# `make test` builds everything and runs every test. Both build in one
# directory, $(BUILD), configured alike, so that neither compiles again what
# the other compiled (and `pip install .` reuses it too: see setup.py).
SHELL := /bin/bash
.SHELLFLAGS := -o pipefail -c
BUILD ?= build
JOBS ?= 2
CMAKE_EXTRA ?=

.PHONY: run test configure deps build-deps clean

CONFIGURE = cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_EXTRA) > $(BUILD).configure.log 2>&1 || { cat $(BUILD).configure.log >&2; exit 1; }
# The build's progress and the compiler's messages on standard error, less
# the lines of targets already built; all of it also in $(BUILD).build.log.
BUILD_TARGETS = cmake --build $(BUILD) -j$(JOBS) $(1) 2>&1 | tee $(BUILD).build.log | \
  { grep --line-buffered -v -e '] Built target ' -e 'ing directory ' >&2; true; }

configure:
	@$(CONFIGURE)

# Everything but the dialogue goes to standard error: standard output is the
# dialogue's, byte for byte, once the program starts.
run: build-deps
	@echo "building blocklevels in $(BUILD)/ (the first build takes 4 to 8 minutes on 2 cores)..." >&2
	@$(CONFIGURE)
	@$(call BUILD_TARGETS,--target blocklevels)
	@$(if $(filter /%,$(BUILD)),,./)$(BUILD)/blocklevels

# As root on Debian, installs what is missing; otherwise names the package
# line to install and stops. build-deps: only what the program needs. All
# on standard error, which `make run` keeps for everything but the dialogue.
deps build-deps:
	@which=$$([ $@ = build-deps ] && echo --build); \
	if [ "$$(id -u)" = 0 ] && command -v apt-get >/dev/null; then .ci/install-deps $$which >&2; \
	else missing=$$(.ci/install-deps --print $$which); \
	  if [ -n "$$missing" ]; then echo "missing packages; run as root: $$missing" >&2; exit 1; fi; fi

test: deps configure
	@$(call BUILD_TARGETS)
	@ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS); status=$$?; \
	awk '/^\[ RUN      \]/ { name = $$4 } /: Skipped$$/ { getline reason; print "skipped: " name ": " reason } \
	  /^skipped: / { print } \
	  /^SKIPPED \[/ { sub(/^SKIPPED \[[0-9]+\] /, ""); print "skipped: " $$0 }' \
	  $(BUILD)/Testing/Temporary/LastTest.log; exit $$status

clean:
	rm -rf $(BUILD) $(BUILD).configure.log $(BUILD).build.log
