# make run            builds only the program and runs the bundled example in a fresh
#                     folder OUT (default out/example-<date>), then prints its key lines
# make check          quick loop: builds the unit test programs and runs them (ctest -L unit)
# make test           installs missing packages, builds everything and runs every test,
#                     then the suite again under the sanitizers (test-sanitize)
# make test-sanitize  the suite built with AddressSanitizer + UndefinedBehaviorSanitizer,
#                     but the end-to-end tests labelled slow (tests/slow_tests.cmake)
# make test-tools     the pytest suite of the companion tools (tools/), the reference
#                     model and the Slurm back end (starts a private one-node cluster);
#                     the CTest test `tools` (ctest -C tools -L tools)
# make fuzz           builds the libFuzzer targets with clang and runs each for
#                     FUZZ_SECONDS seconds (not part of make test)
BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
JOBS ?= $(shell nproc)
# Fixed once per make call (a plain ?= would ask for the date at every use).
ifeq ($(origin OUT),undefined)
OUT := out/example-$(shell date +%Y%m%d-%H%M%S)
endif
# CI=true builds with warnings as errors.
CMAKE_FLAGS ?=
ifeq ($(CI),true)
CMAKE_FLAGS += -DBBTRACK_WERROR=ON
endif
PROGRAM = $(abspath $(BUILD))/diff2wirenew
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= listread numfmt startup

# Any sanitizer report ends the process with a status of its own, so that
# an end-to-end test sees it even where an error exit (status 1) is expected.
SANITIZER_ENV = \
  ASAN_OPTIONS=halt_on_error=1:abort_on_error=0:exitcode=86:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:exitcode=87

PYTHON ?= /usr/bin/python3

.PHONY: all deps build run check test test-tools test-sanitize build-sanitize fuzz fuzz-build bench clean

all: build

deps:
	@scripts/deps.sh

# The full build: tests and benchmarks on (a folder first made by `make run`
# has neither).
CONFIGURE = cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DBBTRACK_TESTS=ON \
  -DBBTRACK_BENCH=ON -DBBTRACK_PYTHON=$(PYTHON) $(CMAKE_FLAGS)
build:
	$(CONFIGURE)
	cmake --build $(BUILD) -j$(JOBS)

# The bundled example: only the program is built, only the packages of
# building and running are installed; make fails when the program fails.
# The run folder gets stdout.txt, stderr.txt and exit_status, as bbrun and
# bbscan leave them. Idle threads sleep (OMP_WAIT_POLICY=passive unless set):
# on a machine shared with other work, spinning threads make the run several
# times slower; the results are the same either way.
run:
	@scripts/deps.sh run
	@[ -f $(BUILD)/CMakeCache.txt ] || cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release \
	  -DBBTRACK_TESTS=OFF -DBBTRACK_BENCH=OFF $(CMAKE_FLAGS)
	@MAKEFLAGS= MAKELEVEL= cmake --build $(BUILD) --target diff2wirenew -j$(JOBS)
	@mkdir -p $(OUT)
	@cp examples/ring/* $(OUT)/
	@echo "running the bundled example in $(OUT)"
	@cd $(OUT) && { OMP_WAIT_POLICY=$${OMP_WAIT_POLICY:-passive} $(PROGRAM) > stdout.txt \
	  2> stderr.txt; echo $$? > exit_status; \
	  cat stderr.txt >&2; }
	@if [ -x tools/bbrun ]; then tools/bbrun --summary $(OUT) || true; \
	  else scripts/run_summary.sh $(OUT); fi
	@status=$$(cat $(OUT)/exit_status); [ "$$status" = 0 ] || { \
	  echo "make run: diff2wirenew failed with exit status $$status in $(OUT)" >&2; exit $$status; }

# One test program per folder of src/; the end-to-end tests (label e2e) and
# the tools' tests (label tools) are left to make test.
UNIT_TESTS = test_textio test_run test_input test_distrib test_kicks test_spectral
check:
	@$(CONFIGURE) > /dev/null
	cmake --build $(BUILD) -j$(JOBS) --target $(UNIT_TESTS)
	cd $(BUILD) && ctest -L unit --output-on-failure -j$(JOBS)

test: deps build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)
	$(MAKE) --no-print-directory test-tools
	$(MAKE) --no-print-directory test-sanitize

test-tools: deps build
	cd $(BUILD) && ctest -C tools -L tools --output-on-failure

$(ASAN_BUILD)/CMakeCache.txt:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBBTRACK_SANITIZE=ON \
	  -DBBTRACK_BENCH=OFF $(CMAKE_FLAGS)

build-sanitize: $(ASAN_BUILD)/CMakeCache.txt
	cmake --build $(ASAN_BUILD) -j$(JOBS)

test-sanitize: deps build-sanitize
	cd $(ASAN_BUILD) && $(SANITIZER_ENV) ctest --output-on-failure -j$(JOBS) -LE slow

$(FUZZ_BUILD)/CMakeCache.txt:
	cmake -S fuzz -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++

fuzz-build: $(FUZZ_BUILD)/CMakeCache.txt
	cmake --build $(FUZZ_BUILD) -j$(JOBS)
	python3 fuzz/make_seeds.py $(FUZZ_BUILD)/seeds

# Each target runs on its growing corpus in $(FUZZ_BUILD)/corpus/<target>,
# its log in $(FUZZ_BUILD)/fuzz_<target>.log; a crash or mismatch leaves its
# input in $(FUZZ_BUILD)/crash-* and stops. One thread each: the tracking
# would otherwise spread over every core.
FUZZ_MAX_LEN_listread = 8192
FUZZ_MAX_LEN_numfmt = 512
fuzz: deps fuzz-build
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$t; \
	  echo "== fuzz_$$t for $(FUZZ_SECONDS) s"; \
	  max_len=100000; \
	  case $$t in listread) max_len=$(FUZZ_MAX_LEN_listread);; \
	    numfmt) max_len=$(FUZZ_MAX_LEN_numfmt);; esac; \
	  (cd $(FUZZ_BUILD) && OMP_NUM_THREADS=1 ./fuzz_$$t corpus/$$t seeds/$$t -max_total_time=$(FUZZ_SECONDS) \
	    -max_len=$$max_len -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 \
	    -artifact_prefix=./ > fuzz_$$t.log 2>&1) \
	    || { tail -n 60 $(FUZZ_BUILD)/fuzz_$$t.log; exit 1; }; \
	  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)' \
	    $(FUZZ_BUILD)/fuzz_$$t.log; \
	done

bench: deps build
	@for b in $(BUILD)/bench/bench_*; do $$b; done

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
