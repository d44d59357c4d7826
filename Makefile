# Thin wrapper over CMake and CTest. `make run` builds and starts the program; `make test` builds
# and runs every test headless. Both install the Debian packages the build needs first.
BUILD ?= build
JOBS ?= $(shell nproc)
# Qt Charts' CMake package needs Qt's OpenGL one, which qt6-charts-dev does not pull in. The fonts
# are those the offscreen tests measure and draw with; locales holds the sources from which a test
# builds the German locale (localedef); sqlite3 is the shell the README suggests for a look inside;
# desktop-file-utils checks the installed desktop entry.
PACKAGES = build-essential cmake pkg-config qt6-base-dev qt6-translations-l10n qt6-charts-dev libqt6opengl6-dev \
           libhidapi-dev libudev-dev libsqlite3-dev sqlite3 libgtest-dev \
           fonts-dejavu-core fonts-liberation2 fonts-droid-fallback locales desktop-file-utils
SUDO = $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: deps configure build run test install format screenshots tsan asan bench clean

deps:
	@missing=$$(for p in $(PACKAGES); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  $(SUDO) apt-get update && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Only the program and the files it ships with, not the tests and benchmarks.
run: configure
	cmake --build $(BUILD) -j $(JOBS) --target quorvantis
	./$(BUILD)/quorvantis

test: build
	QT_QPA_PLATFORM=offscreen ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The program with the files it ships in $(PREFIX)/lib/quorvantis, the command $(PREFIX)/bin/quorvantis,
# the udev rule, and the desktop entry with its icon; under $(DESTDIR) when given. Only the copy
# into the prefix runs with sudo, and only when that folder is not writable.
PREFIX ?= /usr/local
DESTDIR ?=
install: configure
	cmake --build $(BUILD) -j $(JOBS) --target quorvantis
	@target="$(DESTDIR)$(PREFIX)"; while [ ! -e "$$target" ]; do target=$$(dirname "$$target"); done; \
	if [ -w "$$target" ]; then sudo=; else sudo="$(SUDO)"; fi; \
	echo $$sudo env DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"; \
	$$sudo env DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# Formats every tracked source with .clang-format.
format:
	@command -v clang-format >/dev/null || { echo "make format needs clang-format (Debian package clang-format)"; exit 1; }
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

# Pictures of every window in every language, with the simulator as the recorder, for looking at:
# written into $(SHOTS).
SHOTS ?= $(BUILD)/screenshots
screenshots: build
	QT_QPA_PLATFORM=offscreen ./$(BUILD)/take_screenshots $(SHOTS)

# The whole suite under ThreadSanitizer, in its own build folder. Qt starts a child process with a
# vfork-style clone that shares the parent's memory, so the sanitizer's mark "forked while threads
# ran" lands in the test process itself, which it would then stop at its next new thread.
tsan:
	TSAN_OPTIONS="suppressions=$(CURDIR)/tests/tsan.supp die_after_fork=0 $$TSAN_OPTIONS" \
	  $(MAKE) test BUILD=build-tsan CMAKE_ARGS="-DQUORVANTIS_TSAN=ON -DQUORVANTIS_BUILD_BENCH=OFF"

# The whole suite under AddressSanitizer (leaks included) and UndefinedBehaviorSanitizer, in its own
# build folder.
asan:
	ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1 $$ASAN_OPTIONS" \
	LSAN_OPTIONS="suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 $$LSAN_OPTIONS" \
	UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1 $$UBSAN_OPTIONS" \
	  $(MAKE) test BUILD=build-asan CMAKE_ARGS="-DQUORVANTIS_ASAN=ON -DQUORVANTIS_BUILD_BENCH=OFF"

bench: build
	@for b in $(BUILD)/bench_*; do echo "== $$b"; $$b || exit 1; done

clean:
	rm -rf build build-tsan build-asan
