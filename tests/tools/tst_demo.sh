#!/usr/bin/env bash
# The demo gateway's parts: tools/ftpserver.py and tools/webserver.sh driven with curl, then
# tools/demo.sh around a stand-in for Zentrow that uses the zent.ini it is given the way
# Zentrow does. Prints TAP; every process started here is stopped on the way out.
set -uo pipefail
export LC_ALL=C

src=${ZENTROW_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}
tmp=$(mktemp -d)
build=$tmp/build
groups=()
n=0
failed=0

finish() {
  local g
  [ -f "$build/demo/state/pgids" ] && groups+=($(cat "$build/demo/state/pgids"))
  for g in "${groups[@]}"; do kill -KILL -- "-$g" 2> /dev/null; done
  for g in $(pgrep -f "$tmp/"); do kill -KILL "$g" 2> /dev/null; done
  wait 2> /dev/null
  rm -rf "$tmp"
}
trap finish EXIT

ok() {
  n=$((n + 1))
  if [ "$1" = 0 ]; then echo "ok $n - $2"; else echo "not ok $n - $2"; failed=1; fi
}
# check NAME COMMAND...: one test point, passing when the command succeeds.
check() {
  local name=$1
  shift
  "$@" > /dev/null 2>&1
  ok $? "$name"
}

lcurl() { curl --silent --noproxy '*' --max-time 20 "$@"; }
sjis() { printf '%s' "$1" | iconv -f UTF-8 -t CP932; }
has() { grep -qF -- "$2" "$1"; }
same() { [ "$1" = "$2" ]; }
# Polls a command for up to 20 s.
eventually() {
  local i
  for ((i = 0; i < 200; i++)); do
    "$@" > /dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}
port_in() { local l; read -r l < "$1" && [[ $l =~ ^[0-9]+$ ]] && echo "$l"; }
tidied() { [[ $1 == */xvfb-run.* ]] && [ ! -e "$1" ]; }
crlf_only() { ! grep -qv $'\r$' "$1"; }
gone() { ! kill -0 -- "-$1" 2> /dev/null; }
no_demo_process() { ! pgrep -f "$build/demo/" > /dev/null; }
refused() { # refused ERRFILE COMMAND...: fails with a message and no traceback
  local err=$1
  shift
  ! timeout 20 "$@" > /dev/null 2> "$err" && [ -s "$err" ] && ! grep -q Traceback "$err"
}
# status := exit status of a child whose process group has ended, "running" while it has not.
reap() { status=running; if gone "$1"; then wait "$1"; status=$?; fi; }

MESSAGE=$(sjis 'ただいまメンテナンス中です')

# --- ftpserver.py and webserver.sh on their own -------------------------------------------

www=$tmp/www
mkdir "$www"
cp "$src/gateway/nomrel.cgi" "$src/gateway/Porvane.cgi" "$www/"
ftpserver=(/usr/bin/python3 "$src/tools/ftpserver.py")

check "ftpserver.py refuses too few arguments" refused "$tmp/err" "${ftpserver[@]}" "$www" u
check "ftpserver.py refuses a missing home folder" refused "$tmp/err" "${ftpserver[@]}" "$tmp/none" u p
check "ftpserver.py refuses a port out of range" refused "$tmp/err" "${ftpserver[@]}" "$www" u p 70000

setsid "${ftpserver[@]}" "$www" demo 'pass word' 0 > "$tmp/ftp.port" 2> "$tmp/ftp.log" < /dev/null &
ftp_pid=$!
groups+=("$ftp_pid")
setsid "$src/tools/webserver.sh" "$www" "$tmp/web" > "$tmp/web.port" 2> "$tmp/web.log" < /dev/null &
web_pid=$!
groups+=("$web_pid")
check "ftpserver.py prints its port" eventually port_in "$tmp/ftp.port"
check "webserver.sh prints its port" eventually port_in "$tmp/web.port"
ftp="ftp://127.0.0.1:$(port_in "$tmp/ftp.port")"
web="http://127.0.0.1:$(port_in "$tmp/web.port")"
check "the web server answers" eventually lcurl --fail "$web/nomrel.cgi"

{ printf 'off,,%s\r\n' "$MESSAGE"; } > "$tmp/closed.txt"
printf 'on,127.0.0.1,x\r\n' > "$tmp/open.txt"
lcurl --user 'demo:pass word' -T "$tmp/closed.txt" "$ftp//ipdata.txt"
ok $? "upload to /ipdata.txt, the home's root"
check "the file arrives byte for byte in the home folder" cmp "$tmp/closed.txt" "$www/ipdata.txt"
lcurl "$web/Porvane.cgi" > "$tmp/page"
check "the gateway page shows the Japanese closed message" has "$tmp/page" "<p>$MESSAGE</p>"
lcurl --user 'demo:pass word' -T "$tmp/open.txt" "$ftp/ipdata.txt"
ok $? "upload to ipdata.txt, relative to the log-in folder"
check "it replaces the same file" cmp "$tmp/open.txt" "$www/ipdata.txt"
lcurl "$web/Porvane.cgi" > "$tmp/page"
check "the gateway page links to the published address" has "$tmp/page" 'href="http://127.0.0.1/"'
check "the address echo answers with the caller's address between the markers" \
  same "$(lcurl "$web/nomrel.cgi")" 'IPADDR=[127.0.0.1]=IPADDR'
lcurl --user demo:wrong "$ftp/"
check "a wrong password is refused" same $? 67

kill -TERM "$ftp_pid" "$web_pid"
check "SIGTERM stops the FTP server" eventually gone "$ftp_pid"
check "SIGTERM stops the web server" eventually gone "$web_pid"
reap "$ftp_pid"
check "the FTP server ends with status 0" same "$status" 0

# --- demo.sh around a stand-in for Zentrow ------------------------------------------------

mkdir "$build"
cat > "$build/zentrow" <<'STUB'
#!/bin/bash
# Stand-in for Zentrow (started directly, so its process is named zentrow): reads zent.ini beside it, checks the address, uploads ipdata.txt.
out=$STUB_OUT
dir=$(dirname "$0")
mkdir -p "$out"
cp "$dir/zent.ini" "$out/zent.ini"
stat -c %a "$dir/zent.ini" > "$out/mode"
echo "$*" > "$out/args"
read -r -a st < /proc/$$/stat
echo "${st[4]}" > "$out/pgid"
echo "${XAUTHORITY:-}" > "$out/xauthority"
ini=$(iconv -f CP932 -t UTF-8 "$dir/zent.ini" | tr -d '\r')
get() { sed -n "s/^$1=//p" <<< "$ini" | head -n 1; }
fetch() { curl --silent --noproxy '*' --max-time 20 "$@"; }
ipadd=$(get IpAdd)
fetch "$ipadd" > "$out/echo"
fetch "${ipadd%nomrel.cgi}Porvane.cgi" > "$out/before"
body=$(cat "$out/echo")
printf 'on,%s,\r\n' "${body:8:${#body}-16}" > "$out/ipdata.txt"
# The path goes after the host unchanged, as Zentrow's FTP client sends it.
fetch --user "$(get FtpUser):$(get FtpPass | base64 -d)" -T "$out/ipdata.txt" "ftp://$(get FtpSv)/$(get FtpPath)"
echo $? > "$out/upload"
fetch "${ipadd%nomrel.cgi}Porvane.cgi" > "$out/after"
if [ "$STUB_MODE" = wait ]; then
  trap 'touch "$out/term"; exit 0' TERM
  touch "$out/waiting"
  while :; do sleep 0.1; done
fi
exit 3
STUB
chmod 755 "$build/zentrow"

# A display is named, so the stand-in runs directly and ends by itself.
STUB_OUT=$tmp/run STUB_MODE=run DISPLAY=:stand-in timeout 120 "$src/tools/demo.sh" "$build" > "$tmp/run.log" 2>&1
check "demo.sh ends with Zentrow's exit status" same $? 3
ini=$tmp/run/zent.ini
check "zent.ini has every line ended by CR LF" crlf_only "$ini"
check "zent.ini starts with SetData" same "$(head -n 1 "$ini")" $'[SetData]\r'
for key in 'FtpSv=127\.0\.0\.1:[0-9]+' 'FtpUser=.+' 'FtpPass=[A-Za-z0-9+/]+=*' 'FtpPath=/ipdata\.txt' \
  'IpAdd=http://127\.0\.0\.1:[0-9]+/nomrel\.cgi' 'ChkAuto=1' 'IpChk=0' 'Timer=1'; do
  check "zent.ini holds $key" grep -qE "^$key"$'\r$' "$ini"
done
check "zent.ini is readable by its owner only" same "$(cat "$tmp/run/mode")" 600
check "the printed page address is the gateway's" \
  grep -qF "$(sed -n 's/^IpAdd=\(.*\)nomrel.cgi\r$/\1Porvane.cgi/p' "$ini")" "$tmp/run.log"
check "the address check answers 127.0.0.1" same "$(cat "$tmp/run/echo")" 'IPADDR=[127.0.0.1]=IPADDR'
check "the gateway starts closed with the Japanese message" has "$tmp/run/before" "<p>$MESSAGE</p>"
check "the stored password, server and path take an upload" same "$(cat "$tmp/run/upload")" 0
check "the upload reaches the page" has "$tmp/run/after" 'href="http://127.0.0.1/"'
check "no demo process is left once Zentrow ended" eventually no_demo_process
check "Zentrow starts with its controller open" same "$(cat "$tmp/run/args")" --controller

# Without a display: the stand-in runs under xvfb-run until the demo is told to stop.
env -u DISPLAY -u WAYLAND_DISPLAY STUB_OUT="$tmp/wait" STUB_MODE=wait \
  setsid "$src/tools/demo.sh" "$build" > "$tmp/wait.log" 2>&1 < /dev/null &
demo_pid=$!
groups+=("$demo_pid")
check "Zentrow starts under a virtual display" eventually test -e "$tmp/wait/waiting"
check "a fresh run starts closed again" has "$tmp/wait/before" "<p>$MESSAGE</p>"
"$src/tools/demo.sh" "$build" > /dev/null 2> "$tmp/second.err"
check "a second demo on the same build is refused" same $? 1
check "... saying why" has "$tmp/second.err" "already running"
check "... and leaves the running one alone" has "$tmp/wait/after" 'href="http://127.0.0.1/"'
check "... whose page still answers" eventually lcurl --fail \
  "$(sed -n 's/^IpAdd=\(.*\)nomrel.cgi\r$/\1Porvane.cgi/p' "$tmp/wait/zent.ini")"
kill -TERM "$demo_pid"
check "SIGTERM ends the demo" eventually gone "$demo_pid"
reap "$demo_pid"
check "... with status 143" same "$status" 143
check "... after asking Zentrow to end" test -e "$tmp/wait/term"
check "... and xvfb-run with it" gone "$(cat "$tmp/wait/pgid")"
xauth_dir=$(dirname "$(cat "$tmp/wait/xauthority")")
check "... which had time to tidy up" tidied "$xauth_dir"
check "no demo process is left after the signal" no_demo_process
check "the servers' process ids are forgotten" test ! -e "$build/demo/state/pgids"

echo "1..$n"
exit "$failed"
