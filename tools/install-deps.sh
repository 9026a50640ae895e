#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need,
# skipping those already present.  Needs root (or sudo) only when something
# is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev   # the windows
  libgtest-dev libgmock-dev googletest         # core tests
  libbenchmark-dev                             # bench/
  libcli11-dev nlohmann-json3-dev              # rebounce-cli
  libsqlite3-dev libpq-dev                     # the results database (--log, history)
  postgresql                                   # a real server for the results database's tests
  fonts-liberation                             # metric-compatible Courier New / Arial
  xvfb xauth                                   # a display for screenshots and the GUI on headless boxes
  locales                                      # locale sources: tests build a comma-decimal locale of their own
  help2man man-db                              # manual pages made from --help, and reading them
  desktop-file-utils appstream                 # checking the desktop entry and the metainfo
  dpkg-dev file                                # the .deb: dpkg-shlibdeps works out its Depends
  libjs-chart.js                               # the plotting library built into the soak report
  libxml2-utils                                # xmllint: the JUnit output is validated against its schema
  chromium                                     # a real browser that loads the report page in the tests
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
