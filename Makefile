# Two commands do all the set-up on a fresh machine: `make run` and `make test`.
BUILD      ?= build
TEST_BUILD ?= build-test
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX     ?= /usr/local
ARGS       ?=
BENCH_BUILD ?= build-bench
BENCH_ARGS  ?=
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS = vt_fuzz prompt_fuzz

# The builds' own makes say nothing of the directories they enter.
MAKEFLAGS += --no-print-directory

.PHONY: all deps build run test bench fuzz install clean

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLOR_TESTS=OFF -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

# Without ARGS, a demo: quillor logged into four machines of a private sshd on 127.0.0.1, all of it
# gone when quillor ends. With ARGS, quillor itself, with those arguments.
run: build
ifeq ($(strip $(ARGS)),)
	@scripts/demo ./$(BUILD)/quillor
else
	./$(BUILD)/quillor $(ARGS)
endif

# The test build runs under AddressSanitizer and UndefinedBehaviorSanitizer.
test: deps
	@scripts/install-deps openssh-server libnss-wrapper
	@cmake -S . -B $(TEST_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQUILLOR_SANITIZE=ON -DQUILLOR_TESTS=ON >/dev/null
	@cmake --build $(TEST_BUILD) -j $(JOBS)
	@cd $(TEST_BUILD) && ctest --output-on-failure -j $(JOBS)

# Each fuzzer runs FUZZ_SECONDS from the checked-in seeds and kept regressions; what it learns goes into
# the build directory, and an input that breaks a check is saved there as crash-* (keep it in
# fuzz/regressions/<target>/ once fixed, and the tests replay it).
fuzz:
	@scripts/install-deps clang libclang-rt-dev
	@cmake -S fuzz -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@set -e; for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$t $(FUZZ_BUILD)/found; \
	  echo "fuzz: $$t for $(FUZZ_SECONDS) s"; \
	  $(FUZZ_BUILD)/$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 -max_len=4096 -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ_BUILD)/found/$$t- $(FUZZ_BUILD)/corpus/$$t fuzz/corpus/$$t fuzz/regressions/$$t; \
	done

# Measures the optimised program against tmux and bare ssh on a private sshd and prints the table that
# bench/README.md explains. Runs as root (ssh gets a private view of its config); about half an hour.
bench: build
	@scripts/install-deps tmux openssh-server
	@cmake -S bench -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BENCH_BUILD) -j $(JOBS)
	./$(BENCH_BUILD)/quillor_bench --quillor $(BUILD)/quillor $(BENCH_ARGS)

install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) $(TEST_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD)
