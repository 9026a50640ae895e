#!/usr/bin/env bash
# Builds the packages, each from a Release build folder of its own without
# sanitizers, tests or benchmarks (only what gets installed is compiled):
#   build-package/rebounce_<version>-1_<arch>.deb          (Debian, Ubuntu)
#   build-package-mingw/rebounce-cli-<version>-win64.zip   (with --windows)
# --test also runs the package tests (label package): the installation, the
# shell completion and the .deb; as root they install the .deb with apt and
# purge it again (tests/package/deb_install.sh says how it stays safe).
# Installs what is missing first (tools/install-deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
test=
windows=
for argument in "$@"; do
  case $argument in
    --test) test=yes ;;
    --windows) windows=yes ;;
    *) echo "usage: tools/package.sh [--test] [--windows]" >&2; exit 2 ;;
  esac
done

tools/install-deps.sh
start=$(date +%s)
build=${REBOUNCE_PACKAGE_BUILD:-build-package}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DREBOUNCE_SANITIZE=OFF \
      -DREBOUNCE_BUILD_TESTS=OFF -DREBOUNCE_BUILD_BENCH=OFF -DREBOUNCE_PACKAGE_TESTS=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
echo "package: built in $(( $(date +%s) - start )) s"

if [ -n "$test" ]; then
  t0=$(date +%s)
  guard=
  if [ "$(id -u)" -eq 0 ]; then guard=tools/guard.sh; fi
  $guard ctest --test-dir "$build" -L package --output-on-failure
  echo "package: tests ran in $(( $(date +%s) - t0 )) s"
else
  (cd "$build" && cpack -G DEB)
fi

if [ -n "$windows" ]; then
  if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
    $sudo apt-get install -y -qq --no-install-recommends g++-mingw-w64-x86-64-posix
  fi
  mingw=${REBOUNCE_PACKAGE_MINGW_BUILD:-build-package-mingw}
  cmake --preset mingw64 -B "$mingw" -DREBOUNCE_BUILD_TESTS=OFF -DREBOUNCE_PACKAGE_TESTS=OFF >/dev/null
  cmake --build "$mingw" -j"$(nproc)" --target rebounce-cli
  (cd "$mingw" && cpack -G ZIP)
fi
