#!/usr/bin/env bash
# Installs what is missing, builds and starts Rebounce Test.  On a machine
# without a display it runs the echo test from the command line against the
# virtual echo plug instead, so that a real test runs on any machine.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec build/src/rebounce "$@"
fi

echo "No display here: running rebounce-cli echo against the virtual echo plug instead."
echo "(Start the window on a machine with a display, or under xvfb-run.)"
plugout=$(mktemp)
build/src/cli/rebounce-cli plug >"$plugout" &
plug=$!
trap 'kill $plug 2>/dev/null; wait $plug 2>/dev/null; rm -f "$plugout"' EXIT
for _ in $(seq 50); do [ -s "$plugout" ] && break; sleep 0.1; done
device=$(head -n1 "$plugout")
echo "Virtual echo plug at $device"
build/src/cli/rebounce-cli echo --device "$device" --baud 9600
