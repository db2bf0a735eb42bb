# Set-up and everyday commands. See README.md.
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?=

# Debian 12 packages: the toolchain, Qt 6, avahi-client, the tools the program
# runs (lsof) and talks to (avahi-daemon), and what the tests use (GoogleTest,
# network namespaces, a private D-Bus, avahi-browse, a virtual X display).
PACKAGES = build-essential cmake pkg-config \
	qt6-base-dev qt6-svg-dev libqt6svg6 libavahi-client-dev libgtest-dev googletest \
	lsof avahi-daemon avahi-utils dbus-daemon dbus-bin iproute2 procps util-linux \
	xvfb trayer xdotool x11-utils imagemagick fonts-noto-cjk

SUDO := $(if $(filter 0,$(shell id -u)),,sudo)

.PHONY: deps build check demo clean

deps:
	@missing=$$(for p in $(PACKAGES); do \
		dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; \
	done); \
	if [ -n "$$missing" ]; then \
		echo "安装缺少的软件包：" $$missing; \
		$(SUDO) apt-get update -q && \
		$(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing; \
	fi

build:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

check: deps build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

demo: deps build
	$(SUDO) bash tests/support/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD)
