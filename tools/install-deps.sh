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
  ser2net                                      # an RFC 2217 port server the remote-port tests start themselves
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

# ser2net's package ships a configuration that serves /dev/ttyS0 and
# /dev/ttyS1 (the console on many machines) and would start it as a
# service.  No service may start while we install (policy-rc.d says so for
# the time of the install, unless the machine has one already), and the
# service stays off afterwards: the tests start their own ser2net with a
# configuration of their own.
policy=/usr/sbin/policy-rc.d
own_policy=""
if [[ " ${missing[*]} " == *" ser2net "* ]] && [ ! -e "$policy" ]; then
  printf '#!/bin/sh\n# installing rebounce-test dependencies: no service starts\nexit 101\n' | $sudo tee "$policy" >/dev/null
  $sudo chmod 755 "$policy"
  own_policy=yes
fi
status=0
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" || status=$?
[ -n "$own_policy" ] && $sudo rm -f "$policy"
if [[ " ${missing[*]} " == *" ser2net "* ]]; then
  # Stopped where systemd runs, and not started at the next boot either
  # (disable works without a running systemd too).
  if [ -d /run/systemd/system ]; then
    $sudo systemctl disable --now ser2net.service >/dev/null 2>&1 || true
  elif command -v systemctl >/dev/null 2>&1; then
    $sudo systemctl disable ser2net.service >/dev/null 2>&1 || true
  fi
fi
exit $status
