#!/usr/bin/env bash
# Installs the .deb with apt as a user would, checks that the programs, the
# manual page and the desktop files are where a system looks for them, then
# purges it and checks that nothing of it is left.  Root only.  It refuses
# to touch a machine that already has a package rebounce or any of its
# files, so it can never replace or remove something it did not install.
#   deb_install.sh <build dir> <source dir> <version>
build=$1 source=$2 version=$3
. "$source/tests/package/common.sh"
build=$(cd "$build" && pwd)

[ "$(id -u)" -eq 0 ] || skip "installing a package needs root"
command -v apt-get >/dev/null || skip "no apt-get here"
deb=$(ls "$build"/package-test/deb/rebounce_*.deb 2>/dev/null | head -n1)
[ -n "$deb" ] || { fail "no package built (check_deb.sh runs first)"; finish; }

status=$(dpkg-query -W -f='${db:Status-Status}' rebounce 2>/dev/null || true)
if [ -n "$status" ] && [ "$status" != not-installed ]; then
  skip "a package rebounce is already on this machine ($status); leaving it alone"
fi
mapfile -t files < <(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\.||')
for f in "${files[@]}"; do
  [ -e "$f" ] || [ -L "$f" ] && skip "$f already exists; the package would replace it"
done

log=$build/package-test/apt.log
: >"$log"
# dpkg leaves out what its configuration excludes (container images drop
# /usr/share/man and /usr/share/doc); those files are not expected then.
mapfile -t excludes < <(sed -n 's/^path-exclude[= ]*//p' /etc/dpkg/dpkg.cfg.d/* 2>/dev/null)
mapfile -t includes < <(sed -n 's/^path-include[= ]*//p' /etc/dpkg/dpkg.cfg.d/* 2>/dev/null)
excluded() {
  local glob
  for glob in "${includes[@]}"; do [[ $1 == $glob ]] && return 1; done
  for glob in "${excludes[@]}"; do [[ $1 == $glob ]] && return 0; done
  return 1
}
kept=()
for f in "${files[@]}"; do excluded "$f" || kept+=("$f"); done
[ "${#kept[@]}" -eq "${#files[@]}" ] || echo "dpkg's configuration leaves out $(( ${#files[@]} - ${#kept[@]} )) file(s) here"

apt_run() {
  echo "+ apt-get $*" >>"$log"
  if ! DEBIAN_FRONTEND=noninteractive timeout 120 apt-get -y -q -o DPkg::Lock::Timeout=60 "$@" >>"$log" 2>&1; then
    tail -n 30 "$log" >&2
    return 1
  fi
}
installed=
cleanup() { if [ -n "$installed" ]; then apt_run purge rebounce >/dev/null 2>&1 || true; fi; }
trap cleanup EXIT

# Local package, dependencies from what the machine has; no download
# needed when tools/install-deps.sh has run.
installed=yes
if ! apt_run install --no-install-recommends "$deb"; then
  fail "apt-get install $deb"; finish
fi
check "dpkg: rebounce $version-1 installed" \
  test "$(dpkg-query -W -f='${db:Status-Status} ${Version}' rebounce)" = "installed $version-1"
for program in rebounce rebounce-cli; do
  first=$(PATH=/usr/bin:/bin "$program" --version | head -n1)
  check "$program --version from PATH" test "$first" = "$program (Rebounce Test) $version"
done
if excluded /usr/share/man/man1/rebounce-cli.1.gz; then
  echo "manual pages are excluded by dpkg's configuration here; not checked"
else
  check "man finds rebounce-cli(1)" test "$(man -w rebounce-cli)" = /usr/share/man/man1/rebounce-cli.1.gz
  check "man rebounce-cli reads" bash -c "MANWIDTH=80 man rebounce-cli 2>/dev/null | grep -q 'EXIT STATUS'"
fi
check "rebounce-cli calc runs" bash -c "rebounce-cli calc --clock 16000000 --baud 9600 --json | grep -q '\"ubrr\":\"103\"'"
check "desktop entry in /usr/share/applications" test -f /usr/share/applications/rebounce.desktop
check "icon in the hicolor theme" test -f /usr/share/icons/hicolor/48x48/apps/rebounce.png
mapfile -t listed < <(dpkg -L rebounce)
missing=()
for f in "${kept[@]}"; do
  grep -qxF -- "$f" <<<"$(printf '%s\n' "${listed[@]}")" || missing+=("$f")
done
check "dpkg -L lists every file of the package (missing: ${missing[*]:-none})" test "${#missing[@]}" -eq 0

if apt_run purge rebounce; then installed=; else fail "apt-get purge rebounce"; fi
status=$(dpkg-query -W -f='${db:Status-Status}' rebounce 2>/dev/null || true)
check "dpkg knows nothing of rebounce after the purge" test -z "$status" -o "$status" = not-installed
left=()
for f in "${listed[@]}"; do
  # Folders the system shares (/usr/share/man/man1, ...) stay; ours go.
  if [ -d "$f" ]; then
    case "$f" in /usr/share/doc/rebounce*) left+=("$f") ;; esac
  elif [ -e "$f" ] || [ -L "$f" ]; then
    left+=("$f")
  fi
done
check "nothing of the package is left (${left[*]:-})" test "${#left[@]}" -eq 0
finish
