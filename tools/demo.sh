#!/usr/bin/env bash
# The local demo gateway: an FTP server and a web server running the two gateway scripts,
# both on 127.0.0.1, and Zentrow started from a program folder whose zent.ini points at them.
#   tools/demo.sh BUILD_DIR [zentrow arguments...]
# Everything lives in BUILD_DIR/demo, made afresh on every run. Both servers stop when
# Zentrow ends or when this script gets INT, TERM or HUP.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 1 ] || { echo "usage: tools/demo.sh BUILD_DIR [zentrow arguments...]" >&2; exit 2; }
build=$(cd "$1" && pwd)
shift
demo=$build/demo
www=$demo/www          # the web server's folder and the FTP home
state=$demo/state      # server configurations, ports and logs
prog=$demo/prog        # Zentrow's program folder: the executable and zent.ini

FTP_USER=zentrow
CLOSED_MESSAGE='ただいまメンテナンス中です'
READY_SECONDS=15

die() { echo "demo: $*" >&2; exit 1; }

[ -x "$build/zentrow" ] || die "$build/zentrow is missing: build it first (./run.sh does)"

# One demo per build folder: a second one would delete the first one's files.
exec 9>"$build/demo.lock"
flock -n 9 || die "another demo is already running from $build"

# Process groups of what this run started, so that they can be stopped whole.
ftp_pid='' web_pid='' app_pid=''

group_alive() { kill -0 -- "-$1" 2>/dev/null; }

# TERM to the group, KILL after a grace period, then reap the leader.
stop_group() {
  local pgid=$1 i
  [ -n "$pgid" ] || return 0
  kill -TERM -- "-$pgid" 2>/dev/null || true
  for ((i = 0; i < 50; i++)); do
    group_alive "$pgid" || break
    sleep 0.1
  done
  kill -KILL -- "-$pgid" 2>/dev/null || true
  wait "$pgid" 2>/dev/null || true
}

# Asks Zentrow in the group to end (it saves its settings on TERM) and waits for it, so that
# xvfb-run around it can tidy up; then stops whatever is left.
end_group() {
  local pgid=$1 pid i
  [ -n "$pgid" ] || return 0
  for pid in $(pgrep -g "$pgid" -x zentrow || true); do
    kill -TERM "$pid" 2>/dev/null || true
  done
  for ((i = 0; i < 100; i++)); do
    pgrep -g "$pgid" -x zentrow > /dev/null || break
    sleep 0.1
  done
  for ((i = 0; i < 50; i++)); do
    group_alive "$pgid" || break
    sleep 0.1
  done
  stop_group "$pgid"
}

cleanup() {
  trap '' INT TERM HUP
  end_group "$app_pid"
  stop_group "$ftp_pid"
  stop_group "$web_pid"
  [ -n "$ftp_pid$web_pid" ] && echo "demo: servers stopped"
  rm -f "$state/pgids"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# What a run that was killed outright left behind (its folder is about to go).
if [ -f "$state/pgids" ]; then
  while read -r pgid; do
    [[ $pgid =~ ^[0-9]+$ ]] || continue
    if grep -qF "$demo/" "/proc/$pgid/cmdline" 2>/dev/null; then
      end_group "$pgid"
    fi
  done < "$state/pgids"
fi

# A clean, known state on every run.
rm -rf "$demo"
mkdir -p "$demo"
chmod 700 "$demo"
mkdir "$www" "$state" "$prog"
install -m 755 "$root/gateway/nomrel.cgi" "$root/gateway/Porvane.cgi" "$www/"
# Open, with no address yet: opening the controller publishes the one it detects.
{ printf 'on,,'; printf '%s' "$CLOSED_MESSAGE" | iconv -f UTF-8 -t CP932; printf '\r\n'; } > "$www/ipdata.txt"
chmod 644 "$www/ipdata.txt"

# The FTP user may write into the CGI folder, so the password is new on every run.
ftp_pass=$(head -c 12 /dev/urandom | base64 | tr -d '+/=')

# Starts a server in its own process group (setsid without a fork keeps the pid), with
# standard input from INPUT; its first output line is its port.
start_server() {
  local name=$1 input=$2
  shift 2
  setsid "$@" > "$state/$name.port" 2> "$state/$name.log" < "$input" 9>&- &
}

# Prints the port a server reported; fails when it died or said nothing in time.
server_port() {
  local name=$1 pid=$2 i port=''
  for ((i = 0; i < READY_SECONDS * 10; i++)); do
    port=$(head -n 1 "$state/$name.port" 2>/dev/null || true)
    [[ $port =~ ^[0-9]+$ ]] && { echo "$port"; return 0; }
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "demo: the $name server did not start; its log ($state/$name.log):" >&2
  tail -n 20 "$state/$name.log" >&2 || true
  return 1
}

# Waits until a curl command succeeds against the server.
wait_answer() {
  local name=$1 pid=$2 i
  shift 2
  for ((i = 0; i < READY_SECONDS * 10; i++)); do
    "$@" > /dev/null 2>&1 && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "demo: the $name server does not answer; its log ($state/$name.log):" >&2
  tail -n 20 "$state/$name.log" >&2 || true
  return 1
}

curl_local=(curl --silent --fail --noproxy '*' --max-time 5)

# The password goes through a file only this user can read, not the process list.
(umask 077 && printf '%s\n' "$ftp_pass" > "$state/ftp.pass")
exec 8< "$state/ftp.pass"
rm -f "$state/ftp.pass"
start_server ftp /dev/fd/8 /usr/bin/python3 "$root/tools/ftpserver.py" "$www" "$FTP_USER" - 0
ftp_pid=$!
exec 8<&-
start_server web /dev/null "$root/tools/webserver.sh" "$www" "$state/lighttpd"
web_pid=$!
printf '%s\n' "$ftp_pid" "$web_pid" > "$state/pgids"

ftp_port=$(server_port ftp "$ftp_pid")
web_port=$(server_port web "$web_pid")
wait_answer ftp "$ftp_pid" "${curl_local[@]}" --user "$FTP_USER:$ftp_pass" "ftp://127.0.0.1:$ftp_port/"
wait_answer web "$web_pid" "${curl_local[@]}" "http://127.0.0.1:$web_port/nomrel.cgi"

page="http://127.0.0.1:$web_port/Porvane.cgi"

# zent.ini as Zentrow writes it: CP932, CR LF, the password as Base64 of its bytes.
# Automatic upload, the address-echo CGI, the page read back after each upload, a check every minute.
{
  printf '%s\r\n' \
    '[SetData]' \
    "FtpSv=127.0.0.1:$ftp_port" \
    "FtpUser=$FTP_USER" \
    "FtpPass=$(printf '%s' "$ftp_pass" | base64 -w 0)" \
    'FtpPath=/ipdata.txt' \
    "IpAdd=http://127.0.0.1:$web_port/nomrel.cgi" \
    'ChkAuto=1' \
    'IpChk=0' \
    "PvnUrl=$page" \
    '[ConData]' \
    'Timer=1'
} | iconv -f UTF-8 -t CP932 > "$prog/zent.ini"
chmod 600 "$prog/zent.ini"
install -m 755 "$build/zentrow" "$prog/zentrow"
# Laid out as installed, so that "作者のHP" finds the manual beside the program.
install -D -m 644 "$root/README.md" "$demo/share/doc/zentrow-check/README.md"

launcher=()
virtual=''
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  launcher=(xvfb-run -a)
  virtual=1
fi

cat <<TEXT

Zentrow demo gateway (everything in $demo)
  Gateway page:    $page
  Address echo:    http://127.0.0.1:$web_port/nomrel.cgi
  FTP server:      ftp://127.0.0.1:$ftp_port/  user $FTP_USER, password $ftp_pass (this run only)
                   its home is $www, so the path /ipdata.txt is the file the page reads
  Program folder:  $prog  (zent.ini: automatic upload, check every minute)

TEXT
if [ -n "$virtual" ]; then
  cat <<TEXT
No display was found: Zentrow runs on a virtual display (xvfb-run) with its controller
open, and checks the address every minute. It finds 127.0.0.1 and uploads ipdata.txt at
once: reload the gateway page, it now links to http://127.0.0.1/.
Press Ctrl+C to end the demo; both servers stop with Zentrow. Server logs: $state
TEXT
else
  cat <<TEXT
Zentrow starts with its controller open: it finds the address 127.0.0.1 and uploads
ipdata.txt at once, then checks every minute. What to try:
  1. Reload the gateway page: it now links to http://127.0.0.1/.
  2. Click the picture in the controller: the gateway closes; reload the page to see the
     closed message.
  3. Edit the closed message, leave the box with Tab, and reload the page.
  Close Zentrow to end the demo; both servers stop with it. Server logs: $state
TEXT
fi
echo

# Qt wants a private runtime folder; give it one rather than a warning.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR=$state/runtime
  mkdir -m 700 "$XDG_RUNTIME_DIR"
fi

# Zentrow runs in its own process group so that a signal to this script ends it cleanly
# (it saves on TERM) and the group can be swept afterwards.
NO_PROXY=127.0.0.1,localhost no_proxy=127.0.0.1,localhost \
  setsid "${launcher[@]}" "$prog/zentrow" --controller "$@" < /dev/null 9>&- &
app_pid=$!
echo "$app_pid" >> "$state/pgids"

status=0
while :; do
  wait "$app_pid" && status=0 || status=$?
  kill -0 "$app_pid" 2>/dev/null || break
done
exit "$status"
