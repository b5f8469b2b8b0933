#!/usr/bin/env bash
# Serves a folder with lighttpd on 127.0.0.1 (or ::1), running its *.cgi files through Perl.
#   tools/webserver.sh WWW_DIR STATE_DIR [ADDRESS]   prints the port, runs in the foreground until killed
set -euo pipefail
www=$(cd "$1" && pwd)
state=$(mkdir -p "$2" && cd "$2" && pwd)
address=${3:-127.0.0.1}
case "$address" in
  127.0.0.1) family=AF_INET bind=$address ;;
  ::1) family=AF_INET6 bind="[$address]" ;; # an IPv6 echo: only a caller over IPv6 reaches it
  *) echo "webserver.sh: listens on 127.0.0.1 or ::1 only, not $address" >&2; exit 2 ;;
esac
port=$(/usr/bin/python3 -c "import socket; s=socket.socket(socket.$family); s.bind(('$address',0)); print(s.getsockname()[1])")
cat > "$state/lighttpd.conf" <<CONF
server.modules = ("mod_cgi")
server.bind = "$bind"
server.port = $port
server.document-root = "$www"
server.errorlog = "$state/error.log"
server.upload-dirs = ("$state")
index-file.names = ("Porvane.cgi")
cgi.assign = (".cgi" => "/usr/bin/perl")
mimetype.assign = (".txt" => "text/plain")
CONF
echo "$port"
exec /usr/sbin/lighttpd -D -f "$state/lighttpd.conf"
