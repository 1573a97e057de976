# The README's commands. Each installs what is missing, configures once and
# builds incrementally.
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
XVFB := $(if $(DISPLAY),,xvfb-run -a -s "-screen 0 1280x1024x24")

.PHONY: all deps configure build run test bench format

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

configure: deps $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j$(JOBS)

run: build
	$(BUILD)/bin/volren

test: build
	cd $(BUILD) && $(XVFB) ctest --output-on-failure -j$(JOBS)

bench: build
	cd $(BUILD) && $(XVFB) bash $(CURDIR)/bench/run.sh

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')
