# Top-level driver: `make demo` and `make test` work on a fresh Debian 12 machine.
BUILD ?= build
JOBS ?= $(shell nproc)
ROOT ?= $(CURDIR)/$(BUILD)/station-root

DEB_PACKAGES = cmake g++ make pkg-config libfltk1.3-dev libgl1-mesa-dev libglu1-mesa-dev \
  libglew-dev freeglut3-dev libftgl-dev libfreeimage-dev libcurl4-openssl-dev libcjson-dev \
  libgtest-dev libfontconfig-dev libx11-dev xvfb xauth libgl1-mesa-dri fonts-wqy-zenhei \
  libcpp-httplib-dev libssl-dev openssl x11-utils clang libclang-rt-14-dev \
  libxdamage-dev libxtst-dev

SUDO = $(shell [ "$$(id -u)" = 0 ] || echo sudo)
# Run under a virtual display when there is none.
XRUN = $(if $(DISPLAY),,xvfb-run -a -s "-screen 0 1600x900x24")

SAN_BUILD ?= build-san
FUZZ_SECONDS ?= 60

.PHONY: deps build test unit-test sanitize-build sanitize-test fuzz fuzz-short demo station clean bench soak

deps:
	@missing=$$(for p in $(DEB_PACKAGES); do dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "installing:" $$missing; \
	  $(SUDO) apt-get update -q && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -q $$missing; \
	else echo "all Debian packages present"; fi

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

# The whole suite: the unit, component and end-to-end tests; the same suite
# built with AddressSanitizer and UndefinedBehaviorSanitizer; a short run of
# every fuzz target.
test: unit-test sanitize-test fuzz-short

# The benchmark programs are built (not run) so that a change cannot leave them broken unseen.
unit-test: build
	cmake --build $(BUILD) -j $(JOBS) --target benchmarks
	cd $(BUILD) && LIBGL_ALWAYS_SOFTWARE=1 $(XRUN) ctest --output-on-failure -j $(JOBS) -LE soak

# One clang build serves both the sanitizer suite and the fuzz targets.
sanitize-build: deps
	CC=clang CXX=clang++ cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DSTATION_SANITIZE=ON -DSTATION_FUZZ=ON >/dev/null
	cmake --build $(SAN_BUILD) -j $(JOBS)

sanitize-test: sanitize-build
	# LP_NUM_THREADS=0 and no shader cache: llvmpipe's worker threads and the
	# cache's writer thread ending while the leak checker stops the process
	# made the checker itself crash now and then.
	# intercept_tls_get_addr=0: this runtime's __tls_get_addr hook takes a
	# malloc'd dynamic-TLS block that happens to sit at a page offset of 16
	# for an old glibc header and reads a bogus range, so the leak checker's
	# tracer crashed at exit ("Tracer caught signal 11") about once in a few
	# hundred runs, failing a program that had done its work.
	cd $(SAN_BUILD) && LIBGL_ALWAYS_SOFTWARE=1 LP_NUM_THREADS=0 MESA_SHADER_CACHE_DISABLE=true \
	  ASAN_OPTIONS=detect_leaks=1:intercept_tls_get_addr=0 \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 $(XRUN) ctest --output-on-failure -j $(JOBS) -LE soak

fuzz: sanitize-build
	tools/run_fuzzers.sh $(SAN_BUILD) $(FUZZ_SECONDS)

fuzz-short: sanitize-build
	tools/run_fuzzers.sh $(SAN_BUILD) 20

station: build
	@tools/lay_out_station.sh "$(ROOT)" "$(CURDIR)/$(BUILD)"

demo: build
	@tools/demo.sh "$(CURDIR)/$(BUILD)"

# The whole station for SOAK_SECONDS under load and faults; not part of `make test`.
SOAK_SECONDS ?= 600
soak: build
	@SOAK_SECONDS=$(SOAK_SECONDS) tools/soak.sh "$(CURDIR)/$(BUILD)"

clean:
	rm -rf $(BUILD)

# Figures against the peer slicers, from a Release build of its own; prints a table, never fails.
BENCH_BUILD ?= build-release
bench: deps
	-tools/bench.sh "$(CURDIR)/$(BENCH_BUILD)" $(JOBS)
