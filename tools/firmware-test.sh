#!/usr/bin/env bash
# Builds the AVR echo firmware, the simulated board and their tests, and runs
# the "firmware" label: the echo test (command line and main window) against
# the firmware on a simulated AVR on pseudo-terminals.  Installs what is
# missing first.  Arguments are passed to ctest.
#   REBOUNCE_FIRMWARE_BUILD  build folder (default build-firmware-test)
#   REBOUNCE_FIRMWARE_SANITIZE=ON  build with AddressSanitizer and UBSan
# Only the firmware's targets are built, so pointing it at an existing build
# folder (the full suite's) costs little.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)

tools/install-deps.sh
packages=(gcc-avr avr-libc binutils-avr simavr libsimavr-dev libelf-dev pkg-config)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "firmware-test: installing ${missing[*]}" >&2
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build=${REBOUNCE_FIRMWARE_BUILD:-build-firmware-test}
# An existing build folder keeps its build type, so nothing is rebuilt for it.
type=()
[ -f "$build/CMakeCache.txt" ] || type=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
cmake -S . -B "$build" "${type[@]}" -DREBOUNCE_BUILD_FIRMWARE=ON \
  -DREBOUNCE_SANITIZE="${REBOUNCE_FIRMWARE_SANITIZE:-OFF}"
targets=(ubrr-gen rebounce-simboard test_ubrr_header test_board_echo
         echo_polling_atmega16 echo_interrupt_atmega16 echo_polling_atmega328p echo_interrupt_atmega328p)
if grep -q '^REBOUNCE_BUILD_GUI:BOOL=ON' "$build/CMakeCache.txt"; then targets+=(test_form1_board); fi
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tools/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
tools/guard.sh ctest --test-dir "$build" --output-on-failure -L firmware "$@" || status=$?
echo "firmware-test: $(( $(date +%s) - start )) s" >&2
exit $status
