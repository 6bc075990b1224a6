#!/usr/bin/env bash
# Packs the build with CPack and checks the package without installing it:
# the exact file list, the control fields, the desktop entry, the man pages,
# the changelog, the AppStream metainfo, lintian, the icons, the launcher,
# and that nothing of the build tree went in.
# Usage: CheckPackage.sh BUILD_DIR OUTPUT_DIR VERSION
set -euo pipefail
build=$(cd "$1" && pwd)
out=$2
version=$3
arch=$(dpkg --print-architecture)

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

rm -rf "$out"
mkdir -p "$out"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 ||
  { cat "$out/cpack.log" >&2; exit 1; }
deb=$out/sigilon_${version}_${arch}.deb
[ -f "$deb" ] || { echo "FAIL: $deb was not made" >&2; ls "$out" >&2; exit 1; }

# Every file and folder, and nothing else.
expected="./usr/
./usr/bin/
./usr/bin/sigilon
./usr/bin/sigilon-brand
./usr/libexec/
./usr/libexec/sigilon/
./usr/libexec/sigilon/sigilon-launcher
./usr/share/
./usr/share/applications/
./usr/share/applications/sigilon.desktop
./usr/share/doc/
./usr/share/doc/sigilon/
./usr/share/doc/sigilon/Manual.html
./usr/share/doc/sigilon/changelog.gz
./usr/share/doc/sigilon/copyright
./usr/share/icons/
./usr/share/icons/hicolor/
./usr/share/icons/hicolor/128x128/
./usr/share/icons/hicolor/128x128/apps/
./usr/share/icons/hicolor/128x128/apps/sigilon.png
./usr/share/icons/hicolor/256x256/
./usr/share/icons/hicolor/256x256/apps/
./usr/share/icons/hicolor/256x256/apps/sigilon.png
./usr/share/icons/hicolor/48x48/
./usr/share/icons/hicolor/48x48/apps/
./usr/share/icons/hicolor/48x48/apps/sigilon.png
./usr/share/man/
./usr/share/man/man1/
./usr/share/man/man1/sigilon-brand.1.gz
./usr/share/man/man1/sigilon.1.gz
./usr/share/metainfo/
./usr/share/metainfo/com.example.sigilon.metainfo.xml"
actual=$(dpkg-deb --contents "$deb" | awk '{print $6}' | sort)
if [ "$actual" != "$(sort <<<"$expected")" ]; then
  fail "file list differs from the expected one:"
  diff <(sort <<<"$expected") <(echo "$actual") >&2 || true
fi
# Owned by root, and only the programs executable.
dpkg-deb --contents "$deb" | awk '$2 != "root/root" {print "FAIL: not owned by root: " $6; bad=1}
  $1 ~ /^-..x/ && $6 !~ /^\.\/usr\/(bin\/|libexec\/sigilon\/)/ {print "FAIL: executable: " $6; bad=1}
  END {exit bad}' >&2 || failures=$((failures + 1))

# Control fields: name, version, and the run-time packages Debian 12 names.
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = sigilon ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)'"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)'"
depends=$(field Depends)
for package in libqt6widgets6 libqt6gui6 libqt6core6 qt6-qpa-plugins libjpeg62-turbo \
  libfreetype6 libfontconfig1 fonts-dejavu-core; do
  grep -qE "(^|, )$package( |,|$)" <<<"$depends" || fail "Depends lacks $package: $depends"
done

tree=$out/tree
dpkg-deb --extract "$deb" "$tree"

# The desktop entry is valid and starts the installed launcher.
desktop=$tree/usr/share/applications/sigilon.desktop
validation=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $validation"
[ -z "$validation" ] || fail "desktop-file-validate: $validation"
grep -qx 'Exec=/usr/libexec/sigilon/sigilon-launcher' "$desktop" || fail "Exec line: $(grep ^Exec "$desktop")"
grep -qx 'Icon=sigilon' "$desktop" || fail "Icon line: $(grep ^Icon "$desktop")"

# The man pages render without warnings and name their program and version.
for page in sigilon sigilon-brand; do
  file=$tree/usr/share/man/man1/$page.1.gz
  warnings=$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null) || fail "man -l $page failed"
  [ -z "$warnings" ] || fail "man -l $page warns: $warnings"
  text=$(MANWIDTH=80 man -l "$file" 2>/dev/null)
  grep -q "^NAME" <<<"$text" && grep -q "^ *$page - " <<<"$text" || fail "$page man page has no NAME line"
  grep -q "$version" <<<"$text" || fail "$page man page does not name version $version"
done
grep -q -- '--version' <(MANWIDTH=80 man -l "$tree/usr/share/man/man1/sigilon-brand.1.gz" 2>/dev/null) ||
  fail "sigilon-brand man page lacks the options of --help"

# Compressed documentation carries no time stamp or file name (gzip -n), so
# the same text packs to the same bytes.
for gz in "$tree"/usr/share/man/man1/*.gz "$tree/usr/share/doc/sigilon/changelog.gz"; do
  header=$(od -An -tx1 -N8 "$gz" | tr -d ' \n')
  [ "${header:0:6}" = 1f8b08 ] && [ $((16#${header:6:2} & 8)) -eq 0 ] && [ "${header:8:8}" = 00000000 ] ||
    fail "$gz is not compressed with gzip -n"
done

# The changelog's newest entry is this version's, in Debian's format.
first=$(zcat "$tree/usr/share/doc/sigilon/changelog.gz" | head -1)
grep -qE "^sigilon \($version\) [a-z]+; urgency=[a-z]+$" <<<"$first" ||
  fail "the changelog's newest entry is not version $version: $first"

# The AppStream metainfo is valid, names the menu entry and this version.
metainfo=$tree/usr/share/metainfo/com.example.sigilon.metainfo.xml
validation=$(appstreamcli validate --no-net --pedantic "$metainfo" 2>&1) ||
  fail "appstreamcli validate: $validation"
grep -q '<id>com.example.sigilon</id>' "$metainfo" || fail "metainfo id is not its file name's"
grep -q '<launchable type="desktop-id">sigilon.desktop</launchable>' "$metainfo" ||
  fail "metainfo does not launch sigilon.desktop"
grep -q "<release version=\"$version\"" "$metainfo" || fail "metainfo has no release $version"

# Debian's own package checker finds no error; its warnings are shown.
lintian_output=$(lintian --no-tag-display-limit "$deb" 2>&1 | grep -E '^[EW]: ' || true)
[ -z "$lintian_output" ] || echo "$lintian_output" >&2
if grep -q '^E: ' <<<"$lintian_output"; then fail "lintian reports errors"; fi

# Icons: PNG pictures of their folder's size (width and height from the header).
for size in 48 128 256; do
  icon=$tree/usr/share/icons/hicolor/${size}x${size}/apps/sigilon.png
  header=$(od -An -tx1 -N24 "$icon" | tr -d ' \n')
  [ "${header:0:16}" = 89504e470d0a1a0a ] || fail "$icon is not a PNG"
  [ $((16#${header:32:8})) -eq "$size" ] && [ $((16#${header:40:8})) -eq "$size" ] ||
    fail "$icon is not $size x $size"
done

# The programs answer --version from the package, and need nothing of the build:
# no run path, no path of the build or source tree inside.
for program in sigilon sigilon-brand; do
  answer=$("$tree/usr/bin/$program" --version 2>&1) || fail "$program --version failed: $answer"
  [ "$answer" = "$program $version" ] || fail "$program --version says '$answer'"
  if readelf -d "$tree/usr/bin/$program" | grep -qE 'RPATH|RUNPATH'; then
    fail "$program carries a run path"
  fi
done
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
if grep -rlF -e "$build" -e "$source_dir" "$tree" >&2; then
  fail "files above name the build or source tree"
fi

# The launcher makes the user's folder and starts the program in it.
home=$out/home
mkdir -p "$home" "$out/stub"
printf '#!/bin/sh\npwd\n' >"$out/stub/sigilon"
chmod +x "$out/stub/sigilon"
sed "s|\"/usr/bin/sigilon\"|\"$out/stub/sigilon\"|" "$tree/usr/libexec/sigilon/sigilon-launcher" >"$out/launcher"
started_in=$(cd / && env -u XDG_DATA_HOME HOME="$home" sh "$out/launcher")
[ "$started_in" = "$home/.local/share/sigilon" ] || fail "launcher started the program in '$started_in'"
started_in=$(cd / && XDG_DATA_HOME="$home/data" HOME="$home" sh "$out/launcher")
[ "$started_in" = "$home/data/sigilon" ] || fail "launcher ignored XDG_DATA_HOME: '$started_in'"
started_in=$(cd / && XDG_DATA_HOME=relative HOME="$home" sh "$out/launcher")
[ "$started_in" = "$home/.local/share/sigilon" ] || fail "launcher used a relative XDG_DATA_HOME"

if [ "$failures" -ne 0 ]; then
  echo "$failures package check(s) failed" >&2
  exit 1
fi
echo "package $deb checked"
