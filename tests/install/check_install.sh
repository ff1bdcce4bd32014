#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and checks what a user gets: the installed
# converter converts the sample, the manual pages render without a warning, the desktop entry,
# the AppStream metadata and the MIME types pass their validators and recognise the files by
# content; then builds the Debian package and runs lintian on it.
#
#   check_install.sh BUILD_DIR SOURCE_DIR [--no-package]
set -euo pipefail
build=$1
src=$2
package=yes
version=${RAWDAT_VERSION:?the version of the build, set by CTest}
[ "${3:-}" = --no-package ] && package=no

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
need() { command -v "$1" >/dev/null || fail "$1 is missing (tools/install-deps --tests installs it)"; }
for tool in groff man desktop-file-validate appstreamcli xmllint update-mime-database; do need "$tool"; done

prefix=$tmp/usr
cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" || { cat "$tmp/install.log"; fail "cmake --install"; }
share=$prefix/share
gui=no
[ -x "$prefix/bin/rawdat" ] && gui=yes
expected=(bin/rawdat-convert share/man/man1/rawdat-convert.1.gz share/mime/packages/rawdat.xml
          share/doc/rawdat/copyright)
[ $gui = yes ] && expected+=(share/man/man1/rawdat.1.gz share/applications/rawdat.desktop
                             share/icons/hicolor/scalable/apps/rawdat.svg share/metainfo/org.rawdat.rawdat.metainfo.xml)
for f in "${expected[@]}"; do [ -f "$prefix/$f" ] || fail "not installed: $f"; done

# The installed converter converts the bundled sample.
mkdir "$tmp/work"
cp "$src/samples/LAB6.DAT" "$src/samples/CPS120.CAL" "$tmp/work/"
"$prefix/bin/rawdat-convert" --quiet "$tmp/work/LAB6.DAT" || fail "the installed rawdat-convert failed"
[ "$(head -c 4 "$tmp/work/LAB6.RAW")" = RAW2 ] || fail "LAB6.RAW is not a RAW2 file"
[ "$("$prefix/bin/rawdat-convert" --version)" = "rawdat-convert $version" ] || fail "rawdat-convert --version is not $version"
[ "$(grep -c $'\r$' "$tmp/work/LAB6.2CL")" -gt 1000 ] || fail "LAB6.2CL holds too few lines"
# The installed Python module, when it is built, reads what the installed converter wrote.
module=$(find "$prefix/lib/python3/dist-packages" -name 'rawdat.*.so' 2>/dev/null | head -n 1 || true)
if [ -n "$module" ]; then
  points=$(cd "$tmp" && PYTHONPATH=$(dirname "$module") /usr/bin/python3 -c \
    'import rawdat, sys; print(len(rawdat.read(sys.argv[1]).y))' "$tmp/work/LAB6.RAW") ||
    fail "the installed Python module does not read LAB6.RAW"
  [ "$points" = 4121 ] || fail "the installed Python module reads $points points of LAB6.RAW"
fi

# Manual pages: no groff warning, and they render through man with every option.
for page in "$src"/man/*.1; do
  warnings=$(groff -man -ww -z "$page" 2>&1)
  [ -z "$warnings" ] || fail "groff warns on $(basename "$page"): $warnings"
done
text=$(LC_ALL=C MANWIDTH=80 man -l "$share/man/man1/rawdat-convert.1.gz" 2>"$tmp/man.err")
[ ! -s "$tmp/man.err" ] || fail "man warns: $(cat "$tmp/man.err")"
for entry in "-f, --force" "-j, --jobs N" "-q, --quiet" "-h, --help" "-V, --version" "-o, --output-dir DIR" \
             "-n, --dry-run" "--cal FILE" "--also LIST" "info \\[--json\\] FILE\\.\\.\\." "f1b \\[-f\\] PARAMFILE F1BFILE" \
             "export-steps \\[-f\\] RAWFILE OUTFILE" "129, 130, 143"; do
  grep -q -- "^ *$entry" <<<"$text" || fail "rawdat-convert(1) has no entry $entry"
done
if [ $gui = yes ]; then
  LC_ALL=C MANWIDTH=80 man -l "$share/man/man1/rawdat.1.gz" 2>"$tmp/man.err" | grep -q "titled with the name of the file in view" ||
    fail "rawdat(1) does not render"
  [ ! -s "$tmp/man.err" ] || fail "man warns: $(cat "$tmp/man.err")"
  desktop-file-validate "$share/applications/rawdat.desktop" || fail "desktop-file-validate"
  appstreamcli validate --no-net --pedantic "$share/metainfo/org.rawdat.rawdat.metainfo.xml" >"$tmp/as.log" ||
    { cat "$tmp/as.log"; fail "appstreamcli validate"; }
fi

# MIME types: the definition compiles, and files are recognised by their content whatever
# their names.
xmllint --noout "$share/mime/packages/rawdat.xml"
mkdir -p "$tmp/xdg/mime/packages"
cp "$share/mime/packages/rawdat.xml" "$tmp/xdg/mime/packages/"
[ -f /usr/share/mime/packages/freedesktop.org.xml ] && cp /usr/share/mime/packages/freedesktop.org.xml "$tmp/xdg/mime/packages/"
XDG_DATA_DIRS=$tmp/xdg update-mime-database "$tmp/xdg/mime" 2>"$tmp/mime.err" || fail "update-mime-database: $(cat "$tmp/mime.err")"
[ ! -s "$tmp/mime.err" ] || fail "update-mime-database warns: $(cat "$tmp/mime.err")"
for t in dat cal raw; do grep -aq "application/x-rawdat-$t" "$tmp/xdg/mime/magic" || fail "no magic for $t"; done
if command -v gio >/dev/null; then
  cp "$src/samples/LAB6.DAT" "$tmp/work/scan"
  cp "$src/samples/CPS120.CAL" "$tmp/work/calib.bin"
  cp "$src/tests/data/raw/BT86.raw" "$tmp/work/bt86"
  cp "$src/tests/data/raw/BT86.raw" "$tmp/work/BT86.raw"
  cp "$src/tests/data/raw4/TwoTheta_scan_scrambled.raw" "$tmp/work/raw4"
  head -c 106 "$src/samples/CPS120.CAL" >"$tmp/work/polynomial"
  printf 'RAW \x10\x00\x00\x00' >"$tmp/work/first"
  # Not ours: a text that begins like a RAW file, the first bytes of a DAT file alone, a header
  # cut short, a camera's raw image.
  printf 'RAW materials cost more this year\n' >"$tmp/work/materials"
  printf 'RAW materials\n' >"$tmp/work/materials.raw"
  printf 'K\002hello' >"$tmp/work/k7"
  head -c 1044 "$src/samples/LAB6.DAT" >"$tmp/work/cut"
  head -c 105 "$src/samples/CPS120.CAL" >"$tmp/work/cutcal"
  printf 'IIU\000\010\000\000\000 image' >"$tmp/work/photo.raw"
  for pair in scan:application/x-rawdat-dat calib.bin:application/x-rawdat-cal polynomial:application/x-rawdat-cal \
              bt86:application/x-rawdat-raw BT86.raw:application/x-rawdat-raw LAB6.RAW:application/x-rawdat-raw \
              raw4:application/x-rawdat-raw first:application/x-rawdat-raw materials:text/plain \
              materials.raw:image/x-panasonic-rw k7:application/octet-stream cut:application/octet-stream \
              cutcal:application/octet-stream photo.raw:image/x-panasonic-rw; do
    type=$(XDG_DATA_HOME=$tmp/xdg XDG_DATA_DIRS=$tmp/xdg gio info -a standard::content-type "$tmp/work/${pair%%:*}" |
           sed -n 's/.*content-type: //p')
    [ "$type" = "${pair#*:}" ] || fail "${pair%%:*} is seen as $type, not ${pair#*:}"
  done
fi

# The Debian package: dependencies from the libraries, and lintian without an error or warning.
if [ $package = yes ]; then
  need cpack; need lintian; need dpkg-shlibdeps
  cpack --config "$build/CPackConfig.cmake" -G DEB -B "$tmp/pkg" >"$tmp/cpack.log" || { cat "$tmp/cpack.log"; fail cpack; }
  deb=$(ls "$tmp"/pkg/rawdat_*.deb)
  dpkg-deb -f "$deb" Depends | grep -q libc6 || fail "the package has no computed dependencies"
  lintian --fail-on error,warning "$deb" >"$tmp/lintian.log" 2>&1 ||
    { grep -v 'root privileges' "$tmp/lintian.log"; fail lintian; }
fi
echo "installation checked"
