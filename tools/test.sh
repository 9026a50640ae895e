#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs the whole test suite; then the
# installation and the .deb, the AVR firmware against simulated boards and,
# as root, the Windows build under Wine.  Arguments go to the native ctest
# run.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
build=${REBOUNCE_TEST_BUILD:-build-test}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DREBOUNCE_SANITIZE=ON
cmake --build "$build" -j"$(nproc)"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tools/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
tools/guard.sh ctest --test-dir "$build" --output-on-failure -j"$(nproc)" "$@"

# The installation and the .deb, from a Release build of their own (the
# package must not be the sanitized build); as root the .deb is installed
# with apt and purged again.
tools/package.sh --test

# The AVR echo firmware against simulated boards (simavr), in the same build.
REBOUNCE_FIRMWARE_BUILD="$build" REBOUNCE_FIRMWARE_SANITIZE=ON tools/firmware-test.sh

# The Windows build: cross-compiled with mingw-w64 and run under Wine, which
# only ever runs inside a private mount namespace (root only).  A test that
# fails is tried once more: a Wine process now and then dies at start-up.
if [ "$(id -u)" -eq 0 ]; then
  tools/wine-test.sh -j"$(nproc)" --repeat until-pass:2
else
  echo "Skipping the Wine tests: they need root for their private mount namespace."
fi
