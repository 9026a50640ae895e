#!/usr/bin/env bash
# Installs what is missing, builds the two programs (nothing else: no tests,
# no benchmarks) in a Release folder of its own and starts Rebounce Test.
# On a machine without a display it runs the echo test from the command line
# against the virtual echo plug instead, so that a real test runs on any
# machine.  Arguments go to the window.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$(date +%s)
tools/install-deps.sh
build=${REBOUNCE_RUN_BUILD:-build-run}
if [ ! -f "$build/CMakeCache.txt" ]; then
  echo "First start: building rebounce and rebounce-cli in $build/ (about 1 to 2 minutes on two cores)."
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DREBOUNCE_BUILD_TESTS=OFF -DREBOUNCE_BUILD_BENCH=OFF \
      -DREBOUNCE_MAN_PAGES=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target rebounce rebounce-cli
echo "Ready in $(( $(date +%s) - start )) s."

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$build/src/rebounce" "$@"
fi

echo "No display here: running rebounce-cli echo against the virtual echo plug instead."
echo "(Start the window on a machine with a display, or under xvfb-run.)"
plugout=$(mktemp)
"$build/src/cli/rebounce-cli" plug >"$plugout" &
plug=$!
trap 'kill $plug 2>/dev/null; wait $plug 2>/dev/null; rm -f "$plugout"' EXIT
for _ in $(seq 50); do [ -s "$plugout" ] && break; sleep 0.1; done
device=$(head -n1 "$plugout")
echo "Virtual echo plug at $device"
"$build/src/cli/rebounce-cli" echo --device "$device" --baud 9600
