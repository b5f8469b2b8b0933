#!/usr/bin/env bash
# Serves a folder with lighttpd on 127.0.0.1, running its *.cgi files through Perl.
#   tools/webserver.sh WWW_DIR STATE_DIR   prints the port, runs in the foreground until killed
set -euo pipefail
www=$(cd "$1" && pwd)
state=$(mkdir -p "$2" && cd "$2" && pwd)
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat > "$state/lighttpd.conf" <<CONF
server.modules = ("mod_cgi")
server.bind = "127.0.0.1"
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
