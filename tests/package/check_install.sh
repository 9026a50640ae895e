#!/usr/bin/env bash
# Installs the build into a DESTDIR and checks what a desktop and a shell
# find there: the file list, icons at their named sizes, a valid desktop
# entry and metainfo that point at installed files, readable manual pages
# and the project's version from both programs.
#   check_install.sh <build dir> <source dir> <version>
build=$1 source=$2 version=$3
. "$source/tests/package/common.sh"
build=$(cd "$build" && pwd)

dest=$build/package-test/destdir
rm -rf "$dest"
if ! DESTDIR=$dest cmake --install "$build" --prefix /usr >/dev/null; then
  fail "cmake --install"; finish
fi
root=$dest/usr

check "installed files are exactly the expected list" \
  diff -u <(expected_files "$source/tests/package/installed-files.txt") \
          <(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)

for size in 16 32 48 256; do
  png=$root/share/icons/hicolor/${size}x${size}/apps/rebounce.png
  check "icon ${size}x${size} is a PNG of that size" \
    bash -c "file -b '$png' | grep -q '^PNG image data, $size x $size,'"
done

desktop=$root/share/applications/rebounce.desktop
metainfo=$root/share/metainfo/io.github.rebounce_test.rebounce.metainfo.xml
check "desktop-file-validate" desktop-file-validate "$desktop"
check "appstreamcli validate" appstreamcli validate --no-net --pedantic "$metainfo"
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
icon_name=$(sed -n 's/^Icon=//p' "$desktop")
check "Exec=$exec_name is an installed program" test -x "$root/bin/$exec_name"
check "Icon=$icon_name is in the hicolor theme" test -f "$root/share/icons/hicolor/48x48/apps/$icon_name.png"
check "metainfo launches the installed desktop entry" \
  grep -q "<launchable type=\"desktop-id\">$(basename "$desktop")</launchable>" "$metainfo"
check "metainfo names this version" grep -q "<release version=\"$version\"" "$metainfo"

for program in rebounce rebounce-cli; do
  first=$("$root/bin/$program" --version | head -n1)
  check "$program --version says $version" test "$first" = "$program (Rebounce Test) $version"
  page=$root/share/man/man1/$program.1.gz
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  check "man $program renders without warnings" test -z "$warnings"
  check "man $program names the version" bash -c "MANWIDTH=80 man -l '$page' 2>/dev/null | grep -q 'Rebounce Test $version'"
done
text=$(MANWIDTH=200 man -l "$root/share/man/man1/rebounce-cli.1.gz" 2>/dev/null)
for heading in COMMANDS "EXIT STATUS" EXAMPLES "rebounce-cli echo" "rebounce-cli calc" "--no-progress"; do
  check "man rebounce-cli has \"$heading\"" grep -q -- "$heading" <<<"$text"
done
check "man rebounce-cli shows no stored flag values" bash -c '! grep -q "{false}" <<<"$0"' "$text"
finish
