# make run   builds the program and runs the bundled example in a fresh folder
# make test  installs missing packages, builds everything and runs every test
BUILD ?= build
JOBS ?= $(shell nproc)
OUT ?= out/example-$(shell date +%Y%m%d-%H%M%S)

.PHONY: all deps build run test bench clean

all: build

deps:
	@scripts/deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS)

run: deps build
	@mkdir -p $(OUT)
	@cp examples/ring/* $(OUT)/
	@cd $(OUT) && ../../$(BUILD)/diff2wirenew > stdout.txt; echo "exit status $$?"
	@echo "results in $(OUT) (standard output in $(OUT)/stdout.txt)"

test: deps build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

bench: deps build
	@for b in $(BUILD)/bench/bench_*; do $$b; done

clean:
	rm -rf $(BUILD)
