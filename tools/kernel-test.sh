#!/usr/bin/env bash
# Runs the "kernel" label: rebounce-cli inside a QEMU guest against the Linux
# kernel's own serial drivers, a 16550 UART (8250) in its internal loopback
# and an emulated FTDI USB adapter (ftdi_sio) that is unplugged mid-run.
# Installs QEMU, busybox and Python when missing; fetches Debian's kernel
# package once and only unpacks it (dpkg-deb -x: no install, no initramfs
# tools); builds only rebounce-cli and the guest tool; runs the tests inside
# tools/guard.sh.  Root only (packages, the guard).  Arguments go to ctest.
#   REBOUNCE_KERNEL_BUILD     build folder (default build-kernel-test)
#   REBOUNCE_KERNEL_SANITIZE  ON: build with AddressSanitizer and UBSan
#   REBOUNCE_KERNEL_CACHE     kernel package and pieces (default /var/cache/rebounce-kernel)
# The guest's serial ports come only from pseudo-terminals and QEMU's
# usb-serial device, never from a device of this machine.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
log() { echo "kernel-test: $*" >&2; }

if [ "$(id -u)" -ne 0 ]; then
  log "skipped: needs root (packages, and the guard's private mount namespace)"
  exit 0
fi

tools/install-deps.sh
packages=(qemu-system-x86 busybox-static python3)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
export DEBIAN_FRONTEND=noninteractive
if [ ${#missing[@]} -gt 0 ]; then
  log "installing ${missing[*]}"
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
if ! command -v qemu-system-x86_64 >/dev/null; then
  log "skipped: qemu-system-x86_64 is not available"
  exit 0
fi

# The kernel: the package linux-image-amd64 points to, unpacked, then reduced
# to what the guest boots (vmlinux) and the six USB serial modules.
cache=${REBOUNCE_KERNEL_CACHE:-/var/cache/rebounce-kernel}
kernel_package() { apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/ {print $2; exit}'; }
package=$(kernel_package)
if [ -z "$package" ]; then
  apt-get update -qq
  package=$(kernel_package)
fi
[ -n "$package" ] || { log "cannot find the package behind linux-image-amd64"; exit 1; }
assets=$cache/assets
if [ "$(cat "$assets/package" 2>/dev/null)" != "$package" ]; then
  log "fetching $package"
  rm -rf "$cache"
  mkdir -p "$cache/deb"
  # apt's download user cannot write to a root-owned folder; fetch as root.
  (cd "$cache/deb" && apt-get download -o APT::Sandbox::User=root "$package" >/dev/null)
  dpkg-deb -x "$cache"/deb/*.deb "$cache/tree"
  python3 tests/kernel/kernel_bench.py prepare "$cache/tree" "$assets"
  echo "$package" >"$assets/package"
  rm -rf "$cache/deb" "$cache/tree"
  log "kernel ready in $(( $(date +%s) - start )) s"
fi

build=${REBOUNCE_KERNEL_BUILD:-build-kernel-test}
# An existing build folder (the full suite's) keeps its own settings.
options=(-DREBOUNCE_BUILD_KERNEL_TESTS=ON -DREBOUNCE_KERNEL_ASSETS="$assets" -DPython3_EXECUTABLE=/usr/bin/python3)
[ -f "$build/CMakeCache.txt" ] ||
  options+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DREBOUNCE_BUILD_GUI=OFF -DREBOUNCE_BUILD_BENCH=OFF)
[ -z "${REBOUNCE_KERNEL_SANITIZE:-}" ] || options+=(-DREBOUNCE_SANITIZE="$REBOUNCE_KERNEL_SANITIZE")
cmake -S . -B "$build" "${options[@]}" >/dev/null
targets=(rebounce-cli guest-serial-tool serial_pty_test)
if grep -q '^REBOUNCE_BUILD_GUI:BOOL=ON' "$build/CMakeCache.txt"; then targets+=(guest-window-run); fi
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

status=0
tools/guard.sh ctest --test-dir "$build" --output-on-failure -L kernel "$@" || status=$?
log "$(( $(date +%s) - start )) s"
exit $status
