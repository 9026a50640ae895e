#!/usr/bin/env bash
# Runs one Windows program under Wine's 64-bit loader.  CTest uses it as the
# cross build's emulator; tools/wine-test.sh calls it inside a private mount
# namespace.  Wine maps every /dev/ttyS*, /dev/ttyUSB* and /dev/ttyACM* it
# sees to a COM port each time it starts, and /dev/ttyS0 may be the
# machine's console, so this refuses to start Wine wherever one is visible.
set -euo pipefail

for dev in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do
  if [ -e "$dev" ]; then
    echo "wine-run.sh: $dev is visible here and Wine would map it to a COM port;" \
         "run the Windows tests through tools/wine-test.sh" >&2
    exit 125
  fi
done

# Never fall back to ~/.wine: the tests map COM ports in their own prefix.
if [ -z "${WINEPREFIX:-}" ] || [ ! -d "$WINEPREFIX" ]; then
  echo "wine-run.sh: WINEPREFIX must name the prefix that tools/wine-test.sh prepared" >&2
  exit 125
fi

loader=${REBOUNCE_WINE_LOADER:-}
if [ -z "$loader" ]; then
  # Debian 12 keeps the 64-bit loader off PATH.
  for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)" "$(command -v wine || true)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then loader=$candidate; break; fi
  done
fi
if [ -z "$loader" ]; then
  echo "wine-run.sh: no Wine loader found (install wine64)" >&2
  exit 125
fi

export WINEDEBUG=${WINEDEBUG:--all}
export DISPLAY=${REBOUNCE_WINE_DISPLAY:-}
# No network here: never offer to download Mono or Gecko.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec "$loader" "$@"
