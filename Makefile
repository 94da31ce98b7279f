# Front door: every command a person or CI needs. CMake does the building underneath.
JOBS      ?= $(shell nproc)
BUILD     ?= build
FUZZ_SECONDS ?= 60
# The tests mostly wait on pseudo-terminals and timers (the plain suite uses about 20 s of
# processor time in 44 s), so four times as many run at once as there are cores (68 s at twice).
TEST_JOBS ?= $(shell echo $$(( $$(nproc) * 4 )))
CMAKE_GEN  = cmake -S . -G "Unix Makefiles"
# What the ThreadSanitizer run needs: the serial, dialogue and virtual-device tests and the
# programs they start.
TSAN_TARGETS = toolkit_tests serial_core_tests serial_component_tests dialogue_core_tests dialogue_seam_tests \
	dialogue_window_tests devsim_tests devsim_program_tests faults_tests flash_program_tests \
	station_loop_tests station_slot_seam_tests station_program_tests \
	tolvane-devsim tolvane-pack tolvane-flash

.PHONY: all bootstrap build install package release check-reproducible test test-normal \
	test-package test-asan test-tsan test-windows windows run run-station bench fuzz screenshot clean

all: build

bootstrap:
	@tools/bootstrap.sh

build: bootstrap
	$(CMAKE_GEN) -B $(BUILD) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

# Installs the programs, desktop entry, icons, metainfo, manual pages and documentation:
# `make install PREFIX=/usr DESTDIR=/tmp/root` (PREFIX defaults to /usr/local).
PREFIX ?= /usr/local
install: build
	cmake -S . -B $(BUILD) -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)
	DESTDIR=$(DESTDIR) cmake --install $(BUILD)

# The Debian package, in $(BUILD)/.
package: build
	cd $(BUILD) && cpack -G DEB

# Everything a release holds, from the sources alone, into build/release/: the Windows installer
# and zip, the Debian package and SHA256SUMS (builds in build-release/).
release: bootstrap
	JOBS=$(JOBS) tools/make-release.sh build/release build-release

# Two release builds of the committed sources in two folders, compared byte for byte. About
# twice a release build's time, so not part of `make test`: CI runs it on its own.
check-reproducible: bootstrap
	JOBS=$(JOBS) tools/check-reproducible.sh

# The whole suite twice (plain, then AddressSanitizer+UndefinedBehaviorSanitizer), then the
# serial and dialogue tests under ThreadSanitizer, then the fuzz corpora as regression inputs.
test: bootstrap test-normal test-package test-asan test-tsan test-windows

test-normal:
	$(CMAKE_GEN) -B build >/dev/null
	cmake --build build -j $(JOBS)
	cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(TEST_JOBS)

# The package as a user meets it: lintian, desktop entry, metainfo, programs started.
test-package: test-normal
	tools/check-package.sh build

test-asan:
	$(CMAKE_GEN) -B build-asan -DTOLVANE_SANITIZE=asan -DTOLVANE_BENCH=OFF >/dev/null
	cmake --build build-asan -j $(JOBS)
	cd build-asan && QT_QPA_PLATFORM=offscreen \
	  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(TEST_JOBS)

test-tsan:
	$(CMAKE_GEN) -B build-tsan -DTOLVANE_SANITIZE=tsan -DTOLVANE_BENCH=OFF >/dev/null
	cmake --build build-tsan -j $(JOBS) --target $(TSAN_TARGETS)
	cd build-tsan && QT_QPA_PLATFORM=offscreen \
	  TSAN_OPTIONS=suppressions=$(CURDIR)/tests/tsan.supp:halt_on_error=1:second_deadlock_stack=1 \
	  ctest --output-on-failure -j $(TEST_JOBS) -L tsan

# The cross build for Windows: the window (tolvane.exe, on the Win32 toolkit), tolvane-flash.exe,
# tolvane-pack.exe and the Windows test programs. -O1: GCC 12 gives false -Wrestrict alarms at
# -O2 in string code.
windows: bootstrap
	cmake -S . -G "Unix Makefiles" -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O1 -DNDEBUG" >/dev/null
	cmake --build build-win -j $(JOBS)

# The Windows test programs and the end-to-end checks under wine; uses the Linux build's
# virtual device and package writer (test-normal builds them).
test-windows: windows
	cmake --build build -j $(JOBS) --target tolvane-devsim tolvane-pack
	tests/wine/run-tests.sh build-win build

run: build
	@tools/run-demo.sh $(BUILD)

run-station: build
	@tools/run-station.sh $(BUILD)

bench: bootstrap
	$(CMAKE_GEN) -B build-bench -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build build-bench -j $(JOBS) --target bench_serial bench_dialogue bench_upgrade bench_flash bench_station bench_stationapp bench_signature \
	  tolvane-devsim tolvane-flash tolvane-pack
	@tools/run-benches.sh build-bench

fuzz: bootstrap
	CXX=clang++ $(CMAKE_GEN) -B build-fuzz -DTOLVANE_FUZZ=ON >/dev/null
	cmake --build build-fuzz -j $(JOBS) --target package_fuzz reply_fuzz ini_fuzz portname_fuzz
	@tools/run-fuzz.sh build-fuzz $(FUZZ_SECONDS)

screenshot: build
	QT_QPA_PLATFORM=offscreen $(BUILD)/bin/tolvane-screenshot docs/window.png

clean:
	rm -rf build build-asan build-tsan build-bench build-fuzz build-win build-release \
	  build-reproducible
