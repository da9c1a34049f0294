#!/usr/bin/env bash
# Checks the .deb: the files a desktop needs are in it, its dependencies are
# Debian packages, and the packed program finds its libraries and starts.
# package_test.sh FILE.deb
set -euo pipefail
deb=$1
fail() { echo "package_test: $*" >&2; exit 1; }

contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/brelvik ./usr/share/applications/brelvik.desktop \
  ./usr/share/icons/hicolor/48x48/apps/brelvik.png \
  ./etc/fonts/conf.d/65-brelvik-microsoft-yahei.conf; do
  grep -q " $path\$" <<<"$contents" || fail "missing $path"
done

depends=$(dpkg-deb -f "$deb" Depends)
for dep in libqt6widgets6 libcurl4 libjpeg62-turbo fonts-wqy-microhei; do
  grep -q "$dep" <<<"$depends" || fail "Depends lacks $dep: $depends"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work"
desktop-file-validate "$work/usr/share/applications/brelvik.desktop" 2>/dev/null ||
  ! command -v desktop-file-validate >/dev/null || fail "invalid .desktop entry"
if ldd "$work/usr/bin/brelvik" | grep -q "not found"; then
  ldd "$work/usr/bin/brelvik" >&2
  fail "the program does not find its libraries"
fi

# The program has no way to end itself; it started well when it is still
# running after a few seconds, with its window shown offscreen.
status=0
QT_QPA_PLATFORM=offscreen timeout 5 "$work/usr/bin/brelvik" >"$work/out.log" 2>&1 || status=$?
[ "$status" -eq 124 ] || { cat "$work/out.log" >&2; fail "the program ended with status $status"; }
echo "package_test: the package is sound"
