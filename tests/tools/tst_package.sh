#!/usr/bin/env bash
# The two Debian packages cpack makes from the install rules: what they depend on, what lintian
# says, the unpacked zentrow-check publishing through the local servers with no display and no
# toolkit loaded, the unpacked zentrow's start-at-login entry. Prints TAP.
set -uo pipefail

build=${ZENTROW_BUILD_DIR:?} src=${ZENTROW_SOURCE_DIR:?} version=${ZENTROW_VERSION:?} tmp=$(mktemp -d) n=0 pgids=''
trap 'for g in $pgids; do kill -KILL -- -$g; done 2> /dev/null; wait 2> /dev/null; rm -rf "$tmp"' EXIT
# check NAME COMMAND...: one test point, passing when the command succeeds; its output on failure.
check() {
  local name=$1
  shift
  n=$((n + 1))
  if "$@" > "$tmp/out" 2>&1; then echo "ok $n - $name"; else echo "not ok $n - $name" && sed 's/^/# /' "$tmp/out"; fi
}
lacks() { ! grep -hE "$@"; }

arch=$(dpkg --print-architecture)
checkdeb=$tmp/zentrow-check_${version}_$arch.deb deb=$tmp/zentrow_${version}_$arch.deb
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp" > "$tmp/cpack.log" 2>&1 || sed 's/^/# /' "$tmp/cpack.log"
check "cpack -G DEB makes ${checkdeb##*/} and ${deb##*/}, unpacked by dpkg-deb" \
  bash -c 'dpkg-deb -x "$1" "$3" && dpkg-deb -x "$2" "$3"' - "$checkdeb" "$deb" "$tmp/root"
dpkg-deb -f "$checkdeb" Depends | tr , '\n' > "$tmp/check.deps"
check "zentrow-check's dependencies are computed: libcurl, Qt Network" grep -qz 'libcurl.*libqt6network' "$tmp/check.deps"
check "... and name no toolkit, X or font package" lacks 'libqt6(gui|widgets)|libx11|xcb|xkb|font|libgl|libegl' "$tmp/check.deps"
check "zentrow depends on this zentrow-check" grep -qF "zentrow-check (= $version)" <(dpkg-deb -f "$deb" Depends)
service=$(find "$tmp/root" -name zentrow-check.service) && exec=$(sed -n 's/^ExecStart=//p' "$service")
check "the timer's service runs a program of zentrow-check" grep "/usr/bin/${exec%% *}\$" <(dpkg-deb -c "$checkdeb")
check "zentrow-check installs the Japanese manual" grep -q 'share/doc/zentrow-check/docs/manual-ja.md$' <(dpkg-deb -c "$checkdeb")
check "the desktop entry is valid" desktop-file-validate "$tmp/root/usr/share/applications/zentrow.desktop"
check "the metainfo is valid and finds its desktop entry" appstreamcli validate-tree --no-net "$tmp/root/usr"
if command -v lintian > /dev/null; then
  check "lintian finds no error in either package" lintian --fail-on error "$checkdeb" "$deb"
else
  echo "ok $((n += 1)) # skip lintian is not installed"
fi

# The unpacked zentrow-check against the servers tools/demo.sh starts, each in a process group of its own.
www=$tmp/www prog=$tmp/prog pass=$(head -c 9 /dev/urandom | base64)
mkdir "$www" "$prog" && install -m 755 "$src/gateway/nomrel.cgi" "$src/gateway/Porvane.cgi" "$www/"
printf 'on,,closed\r\n' > "$www/ipdata.txt"
setsid /usr/bin/python3 "$src/tools/ftpserver.py" "$www" zentrow - 0 > "$tmp/ftp.port" 2> "$tmp/ftp.log" <<< "$pass" &
pgids+=" $!"
setsid "$src/tools/webserver.sh" "$www" "$tmp/web" > "$tmp/web.port" 2>&1 < /dev/null &
pgids+=" $!"
for ((i = 0; i < 150; i++)); do
  ftp=$(head -n 1 "$tmp/ftp.port" 2> /dev/null) web=$(head -n 1 "$tmp/web.port" 2> /dev/null)
  curl -sf --noproxy '*' --max-time 2 -o /dev/null "http://127.0.0.1:$web/nomrel.cgi" && [ -n "$ftp" ] && break
  sleep 0.1
done
printf '%s\r\n' '[SetData]' "FtpSv=127.0.0.1:$ftp" FtpUser=zentrow "FtpPass=$(printf %s "$pass" | base64)" \
  FtpPath=/ipdata.txt "IpAdd=http://127.0.0.1:$web/nomrel.cgi" ChkAuto=1 IpChk=0 > "$prog/zent.ini"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM no_proxy=127.0.0.1 LD_DEBUG=libs LD_DEBUG_OUTPUT="$tmp/ld" \
  timeout 60 "$tmp/root/usr/bin/zentrow-check" --program-folder "$prog" > "$tmp/check.out" 2>&1
check "the unpacked zentrow-check, with no display, says it published 127.0.0.1" grep -qx 'cgi 127.0.0.1 published' "$tmp/check.out"
check "... and the gateway page links to it" grep -qF 'href="http://127.0.0.1/"' \
  <(curl -s --noproxy '*' --max-time 20 "http://127.0.0.1:$web/Porvane.cgi")
check "... having loaded Qt Core and libcurl, no toolkit or X library" \
  bash -c 'grep -q "init: .*libQt6Core.*" "$@" && grep -q "init: .*libcurl" "$@" && ! grep -hEm5 "lib(Qt6Gui|Qt6Widgets|X11|xcb|GL|EGL)" "$@"' - "$tmp"/ld.*
grep -q published "$tmp/check.out" || sed 's/^/# /' "$tmp/check.out" "$tmp/ftp.log"

# Start at login: the entry opens the controller on the program folder, its odd characters escaped.
zentrow() { XDG_CONFIG_HOME=$tmp/config timeout 10 "$tmp/root/usr/bin/zentrow" "$@"; }
entry=$tmp/config/autostart/zentrow.desktop folder="$tmp/a \"b\" 100%"
mkdir -p "$folder" && zentrow --autostart on --program-folder "$folder"
check "--autostart on writes a valid entry" desktop-file-validate "$entry"
check "its Exec line opens the controller on the folder" grep -qxF \
  "Exec=$tmp/root/usr/bin/zentrow --controller --program-folder \"$tmp/a \\\\\"b\\\\\" 100%%\"" "$entry"
zentrow --autostart maybe 2> /dev/null
refused=$?
zentrow --autostart off
check "--autostart off removes it; a word other than on or off is refused" test "$refused" = 1 -a ! -e "$entry"

echo "1..$n"
