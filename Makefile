# The two commands a new user needs: `make demo` and `make test`.
# Everything else is plain CMake + Ninja + CTest underneath.
JOBS    ?= $(shell nproc)
BUILD   ?= build
ASAN    ?= build-asan
TSAN    ?= build-tsan
CMAKE_FLAGS ?=
# The scenario tests run on real time against pseudo-terminals; under the
# sanitizers on a loaded machine one can miss its moment. A case that fails
# twice in a row is a real failure.
CTEST_FLAGS ?= --output-on-failure --no-tests=error --repeat until-pass:2

.PHONY: all deps build test test-plain test-asan test-tsan demo clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test-plain: build
	ctest --test-dir $(BUILD) -j $(JOBS) $(CTEST_FLAGS)

# The whole suite once more under AddressSanitizer + UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B $(ASAN) -G Ninja -DCORVANE_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=Debug $(CMAKE_FLAGS)
	cmake --build $(ASAN) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp \
	  ctest --test-dir $(ASAN) -j $(JOBS) $(CTEST_FLAGS)

# The Qt-free serial core under ThreadSanitizer.
test-tsan: deps
	cmake -S . -B $(TSAN) -G Ninja -DCORVANE_SANITIZE=thread -DCORVANE_WITH_QT=OFF -DCMAKE_BUILD_TYPE=Debug $(CMAKE_FLAGS)
	cmake --build $(TSAN) -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ctest --test-dir $(TSAN) -j $(JOBS) $(CTEST_FLAGS) -L core

test: test-plain test-asan test-tsan

demo: build
	scripts/demo $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN) $(TSAN)
