# Front door: `make run` and `make test` are the whole set-up on a fresh Debian machine
# (`./zantu run` and `./zantu test` first install make itself where it is missing).
# `make run` needs only the first set; the tests, benchmarks and fuzzers add the second;
# `make package` adds the third (dpkg-shlibdeps, and file to find the binary it reads).
# util-linux brings setpriv and prlimit, without which the process-limit tests skip.
RUN_PACKAGES     := make cmake g++ pkg-config libsodium-dev
TEST_PACKAGES    := libgtest-dev libbenchmark-dev qemu-user clang libclang-rt-14-dev util-linux
PACKAGE_PACKAGES := dpkg-dev file
# The aarch64 cross build: Debian's cross compiler and the arm64 multiarch libraries, run
# under qemu-user. libstdc++6:arm64 is named because the cross compiler's own copy lies
# outside the arm64 loader's search path.
ARM64_PACKAGES   := g++-aarch64-linux-gnu libsodium-dev:arm64 libgtest-dev:arm64 pkgconf:arm64 \
                    libstdc++6:arm64 qemu-user
JOBS     ?= 2
BUILD    ?= build
ASAN     ?= build-asan
TSAN     ?= build-tsan
FUZZ     ?= build-fuzz
ARM64    ?= build-arm64
# Seconds per fuzz target: `make fuzz` and the smoke run inside `make test`.
FUZZ_SECONDS ?= 180
FUZZ_SMOKE_SECONDS ?= 30
CMAKE_FLAGS ?=

.PHONY: all deps deps-run deps-package build build-solver build-asan test test-normal test-asan \
        run bench package format clean build-tsan test-tsan build-fuzz fuzz fuzz-smoke \
        deps-arm64 build-arm64 test-arm64 package-arm64

all: build

# Installs whichever of the packages in $(1) are missing: as root with apt-get, after
# refreshing the lists so a fresh machine gets current versions; otherwise it prints the
# command for root and stops.
define install_missing
@missing=""; \
for p in $(1); do \
  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
done; \
if [ -z "$$missing" ]; then exit 0; fi; \
if [ "$$(id -u)" != 0 ]; then \
  echo "Missing Debian packages:$$missing"; \
  echo "Run as root:"; \
  echo "  apt-get update && apt-get install -y --no-install-recommends$$missing"; \
  exit 1; \
fi; \
echo "Installing:$$missing"; \
apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends$$missing
endef

deps-run:
	$(call install_missing,$(RUN_PACKAGES))

deps-package: deps-run
	$(call install_missing,$(PACKAGE_PACKAGES))

deps:
	$(call install_missing,$(RUN_PACKAGES) $(TEST_PACKAGES))

# arm64 packages need the architecture known to dpkg first.
deps-arm64:
	@if ! dpkg --print-foreign-architectures | grep -qx arm64; then \
	  if [ "$$(id -u)" != 0 ]; then \
	    echo "The arm64 architecture is not enabled. Run as root:"; \
	    echo "  dpkg --add-architecture arm64"; \
	    exit 1; \
	  fi; \
	  dpkg --add-architecture arm64; \
	fi
	$(call install_missing,$(RUN_PACKAGES) $(ARM64_PACKAGES))

# The solver alone, in the same directory as the full build: switching the suites off and
# on again rebuilds nothing that is already built.
build-solver: deps-run
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DZANTU_TESTS=OFF -DZANTU_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target zantu-solver

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DZANTU_TESTS=ON -DZANTU_BENCH=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

build-asan: deps
	cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZANTU_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(ASAN) -j $(JOBS)

test-normal: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-asan: build-asan
	ctest --test-dir $(ASAN) --output-on-failure -j $(JOBS)

# The front end's tests and the stress tests against a ThreadSanitizer build of the solver.
build-tsan: deps
	cmake -S . -B $(TSAN) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZANTU_TSAN=ON -DZANTU_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(TSAN) -j $(JOBS) --target zantu-solver zantu_solver_unit_tests zantu_solver_protocol_tests zantu_stress_tests

test-tsan: build-tsan
	tests/stress/run_tsan_tests.sh $(TSAN)

build-fuzz: deps
	cmake -S . -B $(FUZZ) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZANTU_FUZZ=ON -DZANTU_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(FUZZ) -j $(JOBS) --target fuzzers

fuzz: build-fuzz
	fuzz/run_fuzzers.sh $(FUZZ) $(FUZZ_SECONDS)

fuzz-smoke: build-fuzz
	fuzz/run_fuzzers.sh $(FUZZ) $(FUZZ_SMOKE_SECONDS)

# On an x86-64 machine the aarch64 suite runs too, cross-built and emulated; on an aarch64
# machine the native suite is that run.
ifeq ($(shell uname -m),x86_64)
test: test-normal test-asan test-tsan fuzz-smoke test-arm64
else
test: test-normal test-asan test-tsan fuzz-smoke
endif

# The aarch64 solver and its tests, cross-built into $(ARM64) and run under qemu-aarch64.
build-arm64: deps-arm64
	cmake -S . -B $(ARM64) -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DZANTU_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(ARM64) -j $(JOBS)

test-arm64: build-arm64
	ctest --test-dir $(ARM64) --output-on-failure -j $(JOBS)

# zantu-solver_<version>_arm64.deb and zantu-solver-<version>-linux-aarch64.tar.gz in $(ARM64).
package-arm64: deps-arm64 deps-package build-arm64
	cmake --build $(ARM64) -j $(JOBS) --target package

run: build-solver
	examples/run-sample.sh $(BUILD)/solver/zantu-solver

# zantu-solver_<version>_amd64.deb and zantu-solver-<version>-linux-x86_64.tar.gz in $(BUILD),
# from the same solver-only build as `make run`.
package: deps-package build-solver
	cmake --build $(BUILD) -j $(JOBS) --target package

bench: build
	./$(BUILD)/bench/zantu_bench
	./$(BUILD)/bench/zantu_nonce_table
	bench/machine_rate.sh $(BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(ASAN) $(TSAN) $(FUZZ) $(ARM64)
