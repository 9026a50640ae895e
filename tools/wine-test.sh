#!/usr/bin/env bash
# Cross-builds the Windows programs with mingw-w64 and runs the "wine" tests
# under Wine.  Installs what is missing, then builds:
#   build-wine-native/  the native helper that serves a virtual echo plug
#                       on a pseudo-terminal and maps it to COM1;
#   build-mingw/        the core, its tests and rebounce-cli.exe for Windows.
# Wine itself only ever runs inside a private mount namespace whose /dev has
# no serial devices (Wine would map /dev/ttyS0, the console on many
# machines, to COM1) and whose /tmp is private.  Needs root for that.
# Arguments are passed to ctest.  REBOUNCE_WINE_SHELL=1 opens a shell in the
# namespace instead, with Wine started, for trying things by hand.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${REBOUNCE_WINE_BUILD:-$root/build-mingw}
native=${REBOUNCE_WINE_NATIVE_BUILD:-$root/build-wine-native}
log() { echo "wine-test: $*" >&2; }

if [ -z "${REBOUNCE_WINE_INSIDE:-}" ]; then
  if [ "$(id -u)" -ne 0 ]; then
    log "needs root for a private mount namespace; refusing to run Wine without one"
    exit 1
  fi

  start=$(date +%s)
  packages=(g++-mingw-w64-x86-64-posix wine wine64 libwine googletest
            cmake g++ libgtest-dev libgmock-dev)
  missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    log "installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    log "installed in $(( $(date +%s) - start )) s"
  fi

  jobs=$(nproc)
  cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=Release -DREBOUNCE_BUILD_GUI=OFF \
        -DREBOUNCE_BUILD_BENCH=OFF -DREBOUNCE_BUILD_CLI=OFF -DREBOUNCE_SANITIZE=OFF >/dev/null
  cmake --build "$native" -j"$jobs" --target rebounce-wine-plug
  cmake --preset mingw64 -B "$build" \
        -DREBOUNCE_WINE_PLUG="$native/tests/wine/rebounce-wine-plug" >/dev/null
  cmake --build "$build" -j"$jobs"
  log "built in $(( $(date +%s) - start )) s"

  exec unshare --mount --propagation private -- \
       env REBOUNCE_WINE_INSIDE=1 REBOUNCE_WINE_BUILD="$build" REBOUNCE_WINE_NATIVE_BUILD="$native" \
       bash "$0" "$@"
fi

# ---- inside the private mount namespace -----------------------------------
# A fresh /dev with only what Wine and the tests need; no tty device of the
# machine is in it.  It is assembled under a private /tmp and moved over /dev.
# A work tree or build under /tmp stays reachable at its own path.
host_tmp=$(mktemp -d /run/rebounce-wine-tmp.XXXXXX)
mount --bind /tmp "$host_tmp"
mount -t tmpfs -o mode=1777 tmpfs /tmp
for dir in "$root" "$build" "$native"; do
  case "$dir" in
    /tmp/*) if [ ! -d "$dir" ]; then mkdir -p "$dir"; mount --bind "$host_tmp/${dir#/tmp/}" "$dir"; fi ;;
  esac
done
umount -l "$host_tmp"
rmdir "$host_tmp"
cd "$root"
mkdir /tmp/.dev
mount -t tmpfs -o mode=755 tmpfs /tmp/.dev
for n in null zero full random urandom tty; do
  touch /tmp/.dev/$n
  mount --bind /dev/$n /tmp/.dev/$n
done
mkdir /tmp/.dev/pts /tmp/.dev/shm
mount --bind /dev/pts /tmp/.dev/pts
mount --bind /dev/shm /tmp/.dev/shm
# A bound ptmx node would find no pts/ beside it; the instance's own does.
ln -s pts/ptmx /tmp/.dev/ptmx
ln -s /proc/self/fd /tmp/.dev/fd
ln -s /proc/self/fd/0 /tmp/.dev/stdin
ln -s /proc/self/fd/1 /tmp/.dev/stdout
ln -s /proc/self/fd/2 /tmp/.dev/stderr
mount --move /tmp/.dev /dev
rmdir /tmp/.dev
if compgen -G '/dev/tty[SUA]*' >/dev/null; then
  log "a serial device is still visible; stopping"
  exit 1
fi

export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all DISPLAY= WINEDLLOVERRIDES=mscoree,mshtml=
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)
mkdir -p "$WINEPREFIX"
wlog=$build/wine.log
: >"$wlog"

# The first Wine process leaves background services holding its output
# open; start them here, with their output in a file, so that no test
# inherits them (CTest would wait for them and report a time-out).
t0=$(date +%s)
# Without a display Wine has no window driver and cannot create a window;
# a private virtual display lets the system-menu tests run on real user32.
xvfb_pid=
if [ -z "${REBOUNCE_WINE_NO_DISPLAY:-}" ] && command -v Xvfb >/dev/null 2>&1; then
  Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>/tmp/xvfb.display >>"$wlog" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -s /tmp/xvfb.display ] && break; sleep 0.1; done
  if [ -s /tmp/xvfb.display ]; then
    export REBOUNCE_WINE_DISPLAY=:$(head -n1 /tmp/xvfb.display)
  else
    log "no virtual display; the window tests will be skipped"
  fi
fi
cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT
"$wineserver" -p >>"$wlog" 2>&1
"$root/tools/wine-run.sh" wineboot --init >>"$wlog" 2>&1 </dev/null
log "Wine ready in $(( $(date +%s) - t0 )) s (prefix $WINEPREFIX)"

if [ -n "${REBOUNCE_WINE_SHELL:-}" ]; then
  bash -i
  exit $?
fi
t0=$(date +%s)
status=0
ctest --test-dir "$build" -L wine --output-on-failure "$@" || status=$?
log "tests ran in $(( $(date +%s) - t0 )) s"
exit $status
