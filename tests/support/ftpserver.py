"""Local FTP server for the tests (pyftpdlib): USER PASSWORD ROOT [--login-dir DIR] [--encoding ENC]
[--umask OCTAL] [--perm PERM].
Prints "PORT <n>" once it listens on 127.0.0.1, then "CMD <verb> <argument>" for every command
before it answers it (the password masked). Exits when its standard input closes."""

import argparse
import logging
import os
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

parser = argparse.ArgumentParser()
for name in ("user", "password", "root"):
    parser.add_argument(name)
parser.add_argument("--login-dir", default="/")  # as the client sees it; "/" is ROOT
parser.add_argument("--encoding", default="utf8")  # how command lines (paths) are decoded
parser.add_argument("--umask")  # for the files it stores: 077 makes them 0600, as vsftpd does
parser.add_argument("--perm", default="elradfmwMT")  # without M, SITE CHMOD is refused
args = parser.parse_args()
if args.umask:
    os.umask(int(args.umask, 8))
sys.stdout.reconfigure(encoding="utf-8", errors="backslashreplace")
logging.basicConfig(level=logging.CRITICAL)


class LoginDirFS(AbstractedFS):
    def __init__(self, root, cmd_channel):
        super().__init__(root, cmd_channel)
        self._cwd = args.login_dir


class Handler(FTPHandler):
    abstracted_fs = LoginDirFS
    auth_failed_timeout = 0
    use_sendfile = False

    def decode(self, data):
        return data.decode(args.encoding, self.unicode_errors)

    def pre_process_command(self, line, cmd, arg):
        print("CMD %s %s" % (cmd, "****" if cmd == "PASS" else (arg or "")), flush=True)
        super().pre_process_command(line, cmd, arg)


Handler.authorizer = DummyAuthorizer()
Handler.authorizer.add_user(args.user, args.password, args.root, perm=args.perm)
server = FTPServer(("127.0.0.1", 0), Handler)


def watch_stdin():
    try:
        sys.stdin.buffer.read()
    finally:
        os._exit(0)


threading.Thread(target=watch_stdin, daemon=True).start()
print("PORT %d" % server.address[1], flush=True)
server.serve_forever()
