# Set-up and everyday commands. See README.md.
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?=

# Debian 12 packages: the toolchain, Qt 6, avahi-client (and its dns_sd.h
# compatibility library, for the second publisher backend), the tools the program
# runs (lsof) and talks to (avahi-daemon), what the tests use (GoogleTest,
# network namespaces, a private D-Bus, avahi-browse, and the desktops the tray
# is tried on, headless: Xvfb with trayer, sway with waybar, GNOME Shell with
# its AppIndicator extension, KDE Plasma on Wayland and X11), and what makes
# and checks the .deb (dpkg-shlibdeps, lintian, mandoc, appstreamcli,
# desktop-file-validate, systemd-analyze).
PACKAGES = build-essential cmake pkg-config \
	qt6-base-dev qt6-svg-dev libqt6svg6 libavahi-client-dev libavahi-compat-libdnssd-dev libgtest-dev googletest libwayland-dev \
	lsof avahi-daemon avahi-utils dbus-daemon dbus-bin iproute2 procps util-linux \
	xvfb trayer xdotool x11-utils imagemagick fonts-noto-cjk desktop-file-utils \
	dpkg-dev lintian mandoc appstream systemd \
	qt6-wayland sway waybar xwayland grim wtype jq \
	gnome-shell gnome-shell-extension-appindicator libglib2.0-bin \
	kwin-wayland kwin-x11 plasma-workspace plasma-workspace-wayland plasma-desktop kactivitymanagerd breeze \
	kde-spectacle kde-cli-tools

SUDO := $(if $(filter 0,$(shell id -u)),,sudo)

.PHONY: deps build package check check-sanitized demo bench fuzz ratio coverage clean

deps:
	@missing=$$(for p in $(PACKAGES); do \
		dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; \
	done); \
	if [ -n "$$missing" ]; then \
		echo "安装缺少的软件包：" $$missing; \
		$(SUDO) apt-get update -q && \
		$(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing; \
	fi

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

# The .deb in $(BUILD)/, with the executable's debug information beside it.
package: deps build
	cmake --build $(BUILD) --target package

check: deps build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)
	$(MAKE) check-sanitized

# The whole suite again, built with AddressSanitizer and UndefinedBehavior-
# Sanitizer; leaks, memory errors and undefined behaviour fail the run.
# No strict string checks: libxkbcommon-x11 hands strndup a buffer without a
# terminator, which is legal and would fail the tray test on every run.
SANITIZED ?= build-sanitized
SANITIZER_FLAGS = -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer
check-sanitized: deps
	cmake -S . -B $(SANITIZED) -DCMAKE_BUILD_TYPE=Debug \
		-DCMAKE_CXX_FLAGS="$(SANITIZER_FLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(SANITIZER_FLAGS)"
	cmake --build $(SANITIZED) -j$(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizer/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --test-dir $(SANITIZED) --output-on-failure -j$(JOBS)

demo: deps build
	$(SUDO) bash demo/demo.sh $(BUILD)

# Figures for docs/performance.md; measured, never asserted.
bench: deps build
	$(SUDO) bash bench/run.sh $(BUILD)

# Each libFuzzer target for FUZZ_SECONDS, from the seed corpus in fuzz/corpus.
FUZZ_SECONDS ?= 60
fuzz: PACKAGES += clang
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DQUILLFEN_FUZZ=ON -DBUILD_TESTING=OFF \
		-DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build-fuzz -j$(JOBS) --target decimal_fuzzer lsof_fuzzer addresses_fuzzer txt_fuzzer
	@for t in decimal lsof addresses txt; do \
		mkdir -p build-fuzz/corpus/$$t; \
		echo "== $${t}_fuzzer ($(FUZZ_SECONDS) s)"; \
		build-fuzz/fuzz/$${t}_fuzzer -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
			build-fuzz/corpus/$$t fuzz/corpus/$$t || exit 1; \
	done

# Lines of code that exists only to test (tests/, fuzz/) against the program's
# (app/, advertiser/, platform/, companion/): non-blank lines that are not
# comments. The house rule is at most 0.6, aiming at 0.5.
ratio:
	@count() { \
		c=$$(git ls-files -- "$$@" | grep -E '\.(cpp|h)$$' | xargs -r cat | grep -cvE '^\s*(//.*)?$$'); \
		s=$$(git ls-files -- "$$@" | grep -E '\.(sh|py)$$' | xargs -r cat | grep -cvE '^\s*(#.*)?$$'); \
		echo $$((c + s)); }; \
	program=$$(count app advertiser platform companion); tests=$$(count tests fuzz); \
	awk -v p=$$program -v t=$$tests 'BEGIN { printf "program %d lines, tests %d lines: %.2f (at most 0.6, aim 0.5)\n", p, t, t / p }'

# Line and branch coverage of the program per folder, from the suite (or the
# ctest selection in COVERAGE_TESTS, e.g. "-L unit") on a --coverage build.
COVERAGE ?= build-coverage
COVERAGE_TESTS ?=
coverage: PACKAGES += gcovr
coverage: deps
	cmake -S . -B $(COVERAGE) -DCMAKE_BUILD_TYPE=Debug \
		-DCMAKE_CXX_FLAGS="--coverage -O0" -DCMAKE_EXE_LINKER_FLAGS=--coverage
	cmake --build $(COVERAGE) -j$(JOBS)
	find $(COVERAGE) -name '*.gcda' -delete
	-ctest --test-dir $(COVERAGE) -j$(JOBS) $(COVERAGE_TESTS)
	@for d in app advertiser platform companion ''; do \
		printf '%-11s ' "$${d:-all}"; \
		gcovr -r . --exclude-throw-branches --exclude-unreachable-branches \
			$$(if [ -n "$$d" ]; then echo --filter "$$d/"; else for f in app advertiser platform companion; do echo --filter "$$f/"; done; fi) \
			--print-summary -o $(COVERAGE)/report.txt $(COVERAGE) | tr '\n' ' '; echo; \
	done

clean:
	rm -rf $(BUILD) $(SANITIZED) $(COVERAGE) build-fuzz
