#!/usr/bin/env bash
# tools/demo.sh with no display, around the real Zentrow: the servers come up, Zentrow publishes
# without a click, a second demo is refused, TERM (Ctrl+C) stops every process. Prints TAP.
set -uo pipefail
src=${ZENTROW_SOURCE_DIR:?} tmp=$(mktemp -d) n=0 build=$tmp/build demo=$tmp/build/demo
trap 'for g in $(cat "$demo/state/pgids" 2> /dev/null) ${pgids:-} ${pid:-}; do kill -KILL -- -$g; done 2> /dev/null; rm -rf "$tmp"' EXIT
# check NAME COMMAND...: one test point, passing once the command succeeds (within 30 s).
check() {
  local name=$1 i
  shift
  n=$((n + 1))
  for ((i = 0; i < 300; i++)); do
    "$@" > /dev/null 2>&1 && echo "ok $n - $name" && return
    sleep 0.1
  done
  echo "not ok $n - $name" && bad=1
}
# get NAME TEXT: the address the banner gives for NAME answers with TEXT.
get() { curl --silent --noproxy '*' --max-time 20 "$(sed -n "s/^  $1: *//p" "$tmp/demo.log")" | grep -qF -- "$2"; }
gone() { ! kill -0 -- "-$1"; }

# A sanitized Zentrow under X: libxkbcommon-x11 hands strndup a buffer without a NUL, which is valid
# and which strict string checks take for an overflow.
[ -z "${ASAN_OPTIONS:-}" ] || export ASAN_OPTIONS=${ASAN_OPTIONS//strict_string_checks=1/strict_string_checks=0}
mkdir "$build" && cp "${ZENTROW_EXE:?}" "$build/zentrow"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM setsid "$src/tools/demo.sh" "$build" > "$tmp/demo.log" 2>&1 < /dev/null &
pid=$!
check "the web server answers the address echo" get 'Address echo' 'IPADDR=[127.0.0.1]=IPADDR'
check "Zentrow, its controller open on a virtual display, publishes 127.0.0.1" get 'Gateway page' 'href="http://127.0.0.1/"'
check "the banner says there is no display" grep -q 'No display was found' "$tmp/demo.log"
ini=$demo/prog/zent.ini
check "zent.ini is readable by its owner only" test "$(stat -c %a "$ini")" = 600
check "zent.ini: CR LF lines, a check every minute" grep -qx $'Timer=1\r' "$ini"
pgids=$(cat "$demo/state/pgids")
xauth=$(tr '\0' '\n' < "/proc/$(pgrep -x -g "$(tail -n 1 <<< "$pgids")" zentrow)/environ" | sed -n 's/^XAUTHORITY=//p')
second=$(timeout 30 "$src/tools/demo.sh" "$build" 2>&1 > /dev/null; echo "status $?")
check "a second demo on the same build is refused, saying why" grep -qz 'already running.*status 1' <<< "$second"
kill -TERM "$pid"
check "TERM ends the demo" gone "$pid"
wait "$pid"
check "... with status 143" test $? = 143
check "... after Zentrow ended and saved" grep -qx $'WanIp=127.0.0.1\r' "$ini"
for g in $pgids; do check "... and process group $g (a server, or Zentrow in xvfb-run)" gone "$g"; done
check "... and xvfb-run had time to tidy up" test -n "$xauth" -a ! -e "$xauth"
[ -z "${bad:-}" ] || sed 's/^/# /' "$tmp/demo.log"
echo "1..$n"
