# The two commands: `make run` builds the program and starts the dialogue;
# `make test` builds everything and runs every test.
BUILD ?= build
JOBS ?= 2
CMAKE_EXTRA ?=

.PHONY: run test configure deps build-deps clean

CONFIGURE = cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_EXTRA) > $(BUILD).configure.log 2>&1 || { cat $(BUILD).configure.log; exit 1; }

configure:
	@$(CONFIGURE)

# The line saying what is built goes to standard error: standard output is
# the dialogue's, byte for byte, once the program starts.
run: build-deps
	@echo "building blocklevels in $(BUILD)/ (the first build takes a few minutes)..." >&2
	@$(CONFIGURE)
	@cmake --build $(BUILD) -j$(JOBS) --target blocklevels > $(BUILD).build.log 2>&1 || { cat $(BUILD).build.log; exit 1; }
	@$(if $(filter /%,$(BUILD)),,./)$(BUILD)/blocklevels

# As root on Debian, installs what is missing; otherwise names the package
# line to install and stops. build-deps: only what the program needs.
deps build-deps:
	@which=$$([ $@ = build-deps ] && echo --build); \
	if [ "$$(id -u)" = 0 ] && command -v apt-get >/dev/null; then .ci/install-deps $$which; \
	else missing=$$(.ci/install-deps --print $$which); \
	  if [ -n "$$missing" ]; then echo "missing packages; run as root: $$missing"; exit 1; fi; fi

test: deps configure
	@cmake --build $(BUILD) -j$(JOBS) > $(BUILD).build.log 2>&1 || { cat $(BUILD).build.log; exit 1; }
	@ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS); status=$$?; \
	awk '/^\[ RUN      \]/ { name = $$4 } /: Skipped$$/ { getline reason; print "skipped: " name ": " reason } \
	  /^skipped: / { print } \
	  /^SKIPPED \[/ { sub(/^SKIPPED \[[0-9]+\] /, ""); print "skipped: " $$0 }' \
	  $(BUILD)/Testing/Temporary/LastTest.log; exit $$status

clean:
	rm -rf $(BUILD) $(BUILD).configure.log $(BUILD).build.log
