# Top-level driver: `make demo` and `make test` work on a fresh Debian 12 machine.
BUILD ?= build
JOBS ?= $(shell nproc)
ROOT ?= $(CURDIR)/$(BUILD)/station-root

DEB_PACKAGES = cmake g++ make pkg-config libfltk1.3-dev libgl1-mesa-dev libglu1-mesa-dev \
  libglew-dev freeglut3-dev libftgl-dev libfreeimage-dev libcurl4-openssl-dev libcjson-dev \
  libgtest-dev libfontconfig-dev libx11-dev xvfb xauth libgl1-mesa-dri fonts-wqy-zenhei \
  libcpp-httplib-dev libssl-dev openssl x11-utils clang libclang-rt-14-dev

SUDO = $(shell [ "$$(id -u)" = 0 ] || echo sudo)
# Run under a virtual display when there is none.
XRUN = $(if $(DISPLAY),,xvfb-run -a -s "-screen 0 1600x900x24")

.PHONY: deps build test demo station clean bench fuzz soak

deps:
	@missing=$$(for p in $(DEB_PACKAGES); do dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "installing:" $$missing; \
	  $(SUDO) apt-get update -q && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -q $$missing; \
	else echo "all Debian packages present"; fi

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && LIBGL_ALWAYS_SOFTWARE=1 $(XRUN) ctest --output-on-failure -j $(JOBS) -LE soak

station: build
	@tools/lay_out_station.sh "$(ROOT)" "$(CURDIR)/$(BUILD)"

demo: build
	@tools/demo.sh "$(CURDIR)/$(BUILD)"

clean:
	rm -rf $(BUILD)
