#!/usr/bin/env bash
# Builds the Windows ZIP of the cross build with CPack and checks what it
# holds: rebounce-cli.exe (a stripped x86-64 Windows program that needs no
# DLL of the compiler) and the documentation, under one top folder.
#   check_zip.sh <build dir> <source dir> <version>
build=$1 source=$2 version=$3
. "$source/tests/package/common.sh"
build=$(cd "$build" && pwd)

out=$build/package-test/zip
rm -rf "$out"
mkdir -p "$out"
if ! cpack --config "$build/CPackConfig.cmake" -G ZIP -B "$out" >"$out/cpack.log" 2>&1; then
  cat "$out/cpack.log" >&2; fail "cpack -G ZIP"; finish
fi
top=rebounce-cli-$version-win64
zip=$out/$top.zip
check "$top.zip made" test -f "$zip"
check "files in the ZIP are exactly the expected list" \
  diff -u <(expected_files "$source/tests/package/zip-files.txt" | sed "s|^|$top/|") \
          <(cmake -E tar tf "$zip" | grep -v '/$' | LC_ALL=C sort)
(cd "$out" && cmake -E tar xf "$zip")
exe=$out/$top/rebounce-cli.exe
check "rebounce-cli.exe is a 64-bit Windows console program" \
  grep -q 'PE32+ executable (console) x86-64' <<<"$(file -b "$exe")"
if command -v x86_64-w64-mingw32-objdump >/dev/null; then
  dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | LC_ALL=C sort -u)
  echo "imports: $(tr '\n' ' ' <<<"$dlls")"
  check "imports read (kernel32.dll among them)" grep -qx kernel32.dll <<<"$dlls"
  check "no compiler runtime DLL needed" bash -c '! grep -Eq "libstdc|libgcc|libwinpthread" <<<"$0"' "$dlls"
fi
finish
