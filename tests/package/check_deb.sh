#!/usr/bin/env bash
# Builds the .deb with CPack and inspects it: name, version, Depends from
# the linked libraries (dpkg-shlibdeps), and the files it holds.
#   check_deb.sh <build dir> <source dir> <version>
# Leaves the package in <build dir>/package-test/deb/ for deb_install.sh.
build=$1 source=$2 version=$3
. "$source/tests/package/common.sh"
build=$(cd "$build" && pwd)

out=$build/package-test/deb
rm -rf "$out"
mkdir -p "$out"
if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.log" 2>&1; then
  cat "$out/cpack.log" >&2; fail "cpack -G DEB"; finish
fi
debs=("$out"/rebounce_*.deb)
check "one package, named rebounce_<version>-1_<arch>.deb" \
  test "${#debs[@]}" -eq 1 -a -f "${debs[0]}" -a "$(basename "${debs[0]}")" = "rebounce_${version}-1_$(dpkg --print-architecture).deb"
deb=${debs[0]}

field() { dpkg-deb -f "$deb" "$1"; }
check "Package: rebounce" test "$(field Package)" = rebounce
check "Version: $version-1" test "$(field Version)" = "$version-1"
depends=$(field Depends)
echo "Depends: $depends"
# What the programs link, as dpkg-shlibdeps names it on Debian 12.
for library in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6; do
  check "Depends names $library with a version" grep -Eq "(^|, )${library//+/\\+} \(>= [^)]+\)" <<<"$depends"
done
check "no sanitizer runtime in Depends" bash -c '! grep -Eq "libasan|libubsan" <<<"$0"' "$depends"
check "dpkg-deb --info reads the package" dpkg-deb --info "$deb" >/dev/null

check "files in the package are exactly the expected list" \
  diff -u <(expected_files "$source/tests/package/installed-files.txt" | sed 's|^|usr/|') \
          <(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\./||' | LC_ALL=C sort)
owned=$(dpkg-deb -c "$deb" | grep -E '\./usr/bin/rebounce(-cli)?$' | grep -c '^-rwxr-xr-x root/root')
check "programs are executable and owned by root" test "$owned" -eq 2
unpacked=$out/unpacked
dpkg-deb -x "$deb" "$unpacked"
stripped=$(file -b "$unpacked/usr/bin/rebounce" "$unpacked/usr/bin/rebounce-cli" | grep -c ', stripped')
check "programs are stripped" test "$stripped" -eq 2
finish
