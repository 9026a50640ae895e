#!/usr/bin/env bash
# Installs what is missing, builds and starts Rebounce Test.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)"
exec build/src/rebounce "$@"
