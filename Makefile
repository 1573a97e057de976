# The README's commands. Each installs what is missing, configures once and
# builds incrementally.
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)
XVFB := $(if $(DISPLAY),,xvfb-run -a -s "-screen 0 1280x1024x24")

SANITIZE_BUILD ?= build-sanitize
# Mesa and Qt keep caches for the whole process; leaks are not what this run
# looks for. Allocations above 1 GiB fail as they would under a memory limit,
# which the sanitizer's own address-space reservation rules out.
SANITIZE_ENV := ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1:max_allocation_size_mb=1024 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60

TSAN_BUILD ?= build-tsan
TSAN_ENV := TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/tsan.supp

.PHONY: all deps configure build run test sanitize-test tsan-test fuzz bench format format-check package package-check install-test

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

# The unit, OpenGL and GUI tests again, built with AddressSanitizer and
# UndefinedBehaviorSanitizer.
sanitize-test: deps
	@test -f $(SANITIZE_BUILD)/CMakeCache.txt || cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Debug \
		-DVOLREN_SANITIZE=ON -DVOLREN_BUILD_BENCH=OFF
	cmake --build $(SANITIZE_BUILD) -j$(JOBS)
	cd $(SANITIZE_BUILD) && $(SANITIZE_ENV) $(XVFB) ctest --output-on-failure -j$(JOBS)

# The threaded voxel loops of loading (tests labelled "threaded") under
# ThreadSanitizer; they build on their own, without OpenGL or Qt.
tsan-test: deps
	@test -f $(TSAN_BUILD)/CMakeCache.txt || cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVOLREN_TSAN=ON
	cmake --build $(TSAN_BUILD) -j$(JOBS)
	cd $(TSAN_BUILD) && $(TSAN_ENV) ctest --output-on-failure -j$(JOBS) -L threaded

# The import's fuzz target for FUZZ_SECONDS; what it finds joins the
# regression set that make test runs.
fuzz: deps
	@test -f $(FUZZ_BUILD)/CMakeCache.txt || CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOLREN_FUZZ=ON
	cmake --build $(FUZZ_BUILD) -j$(JOBS)
	bash tests/fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

bench: build
	cd $(BUILD) && $(XVFB) bash $(CURDIR)/bench/run.sh

# A Debian package of the programs, shaders, samples, desktop entry, MIME
# types, icons and AppStream data, in build/; package-check lists it and runs
# lintian on it.
package: build
	cd $(BUILD) && cpack -G DEB

package-check: package
	bash scripts/check-package.sh $(BUILD)

# The package installed with apt-get into a clean Debian 12 root made by
# debootstrap and its programs run there as a user; skipped without root,
# debootstrap or the Debian mirror.
install-test: package
	bash scripts/install-test.sh $(BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

# Fails, naming the places, where make format would change a file.
format-check: deps
	clang-format --dry-run --Werror $$(git ls-files '*.cpp' '*.h')
