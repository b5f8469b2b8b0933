#!/usr/bin/env bash
# The installed layout: `cmake --install` and the Debian package put every file where it belongs,
# the desktop entry and metainfo validate, and the unpacked program runs. Prints TAP.
set -uo pipefail

build=${ZENTROW_BUILD_DIR:?} version=${ZENTROW_VERSION:?}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
n=0
# check NAME COMMAND...: one test point, passing when the command succeeds; its output on failure.
check() {
  local name=$1
  shift
  n=$((n + 1))
  if "$@" > "$tmp/out" 2>&1; then echo "ok $n - $name"; else echo "not ok $n - $name" && sed 's/^/# /' "$tmp/out"; fi
}
field_has() { dpkg-deb -f "$deb" "$1" | grep -qF -- "$2"; }

DESTDIR=$tmp/install cmake --install "$build" --prefix /usr > /dev/null
deb=$tmp/pkg/zentrow_${version}_$(dpkg --print-architecture).deb
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/pkg" > "$tmp/cpack.log" 2>&1 || sed 's/^/# /' "$tmp/cpack.log"
check "cpack -G DEB makes ${deb##*/}" test -f "$deb"
dpkg-deb -x "$deb" "$tmp/package"
for root in install package; do
  for f in bin/zentrow share/applications/zentrow.desktop share/icons/hicolor/scalable/apps/zentrow.svg \
    share/metainfo/io.github.zentrow.zentrow.metainfo.xml share/doc/zentrow/README.md \
    lib/systemd/user/zentrow-check.service lib/systemd/user/zentrow-check.timer; do
    check "$root: /usr/$f" test -f "$tmp/$root/usr/$f"
  done
done
check "the desktop entry is valid" desktop-file-validate "$tmp/package/usr/share/applications/zentrow.desktop"
check "the metainfo is valid and finds its desktop entry" appstreamcli validate-tree --no-net "$tmp/package/usr"
while read -r key value; do
  check "the package's $key holds $value" field_has "$key" "$value"
done <<ROWS
Version $version
Depends libqt6widgets6
Depends libcurl4
ROWS
check "the unpacked zentrow is executable" test -x "$tmp/package/usr/bin/zentrow"
(cd "$tmp" && timeout 10 package/usr/bin/zentrow --version > version 2>&1)
check "the unpacked zentrow --version names $version" grep -qF "$version" "$tmp/version"

echo "1..$n"
