#!/usr/bin/env bash
# The Debian package (made by cpack from the install rules `cmake --install` follows): every file
# where it belongs, the desktop entry and metainfo valid, the unpacked program runs. Prints TAP.
set -uo pipefail

build=${ZENTROW_BUILD_DIR:?} version=${ZENTROW_VERSION:?} tmp=$(mktemp -d) n=0
trap 'rm -rf "$tmp"' EXIT
# check NAME COMMAND...: one test point, passing when the command succeeds; its output on failure.
check() {
  local name=$1
  shift
  n=$((n + 1))
  if "$@" > "$tmp/out" 2>&1; then echo "ok $n - $name"; else echo "not ok $n - $name" && sed 's/^/# /' "$tmp/out"; fi
}

deb=$tmp/zentrow_${version}_$(dpkg --print-architecture).deb
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp" > "$tmp/cpack.log" 2>&1 || sed 's/^/# /' "$tmp/cpack.log"
check "cpack -G DEB makes ${deb##*/}, unpacked by dpkg-deb" dpkg-deb -x "$deb" "$tmp/root"
cd "$tmp/root/usr" && check "the icon, metainfo, manual and user units are in place" ls share/icons/hicolor/scalable/apps/zentrow.svg \
  share/metainfo/io.github.zentrow.zentrow.metainfo.xml share/doc/zentrow/README.md lib/systemd/user/zentrow-check.{service,timer}
check "the desktop entry is valid" desktop-file-validate "$tmp/root/usr/share/applications/zentrow.desktop"
check "the metainfo is valid and finds its desktop entry" appstreamcli validate-tree --no-net "$tmp/root/usr"
check "the run-time dependencies are computed" grep -q libcurl <(dpkg-deb -f "$deb" Depends)
check "the unpacked zentrow --version names $version" grep -qF "$version" <(cd "$tmp" && timeout 10 root/usr/bin/zentrow --version 2>&1)

# Start at login: the entry opens the controller on the program folder, its odd characters escaped.
zentrow() { XDG_CONFIG_HOME=$tmp/config timeout 10 "$tmp/root/usr/bin/zentrow" "$@"; }
entry=$tmp/config/autostart/zentrow.desktop folder="$tmp/a \"b\" 100%"
mkdir -p "$folder" && zentrow --autostart on --program-folder "$folder"
check "--autostart on writes a valid entry" desktop-file-validate "$entry"
check "its Exec line opens the controller on the folder" grep -qxF \
  "Exec=$tmp/root/usr/bin/zentrow --controller --program-folder \"$tmp/a \\\\\"b\\\\\" 100%%\"" "$entry"
zentrow --autostart maybe 2>/dev/null; refused=$?
zentrow --autostart off
check "--autostart off removes it; a word other than on or off is refused" test "$refused" = 1 -a ! -e "$entry"

echo "1..$n"
