"""A local FTP server for the tests, on Debian's pyftpdlib.

Usage: ftpserver.py USER PASSWORD ROOT [--login-dir DIR] [--encoding ENC] [--break-after N] [--read-only]

Listens on 127.0.0.1 at a free port and prints "PORT <n>" once it listens. Every command it
receives is printed as "CMD <verb> <argument>" (the password masked) before it is answered.
Exits when its standard input closes, so it never outlives the test that started it.
"""

import argparse
import logging
import os
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("user")
    parser.add_argument("password")
    parser.add_argument("root")
    # The directory a log-in starts in, as the client sees it ("/" is ROOT).
    parser.add_argument("--login-dir", default="/")
    # How the server decodes command lines (paths); pyftpdlib's default is utf8.
    parser.add_argument("--encoding", default="utf8")
    # Fault injection: break every data transfer after this many bytes with a 426 reply.
    parser.add_argument("--break-after", type=int, default=None)
    # The user may list and download but not store, rename or delete.
    parser.add_argument("--read-only", action="store_true")
    args = parser.parse_args()

    sys.stdout.reconfigure(encoding="utf-8", errors="backslashreplace")
    logging.basicConfig(level=logging.CRITICAL)

    class LoginDirFS(AbstractedFS):
        def __init__(self, root, cmd_channel):
            super().__init__(root, cmd_channel)
            self._cwd = args.login_dir

    class BreakingDTP(DTPHandler):
        def _break(self):
            self._resp = ("426 Connection closed; transfer aborted.", logging.debug)
            self.close()

        def handle_read(self):
            super().handle_read()
            if args.break_after is not None and not self._closed \
                    and self.tot_bytes_received >= args.break_after:
                self._break()

        handle_read_event = handle_read  # the base class binds its own handle_read here

        def send(self, data):
            if args.break_after is None:
                return super().send(data)
            room = args.break_after - self.tot_bytes_sent
            if room <= 0:
                self._break()
                return 0
            return super().send(data[:room])

    class Handler(FTPHandler):
        def decode(self, data):
            return data.decode(args.encoding, self.unicode_errors)

        def pre_process_command(self, line, cmd, arg):
            shown = "****" if cmd == "PASS" else (arg or "")
            print("CMD %s %s" % (cmd, shown), flush=True)
            super().pre_process_command(line, cmd, arg)

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elr" if args.read_only else "elradfmwMT")
    Handler.authorizer = authorizer
    Handler.abstracted_fs = LoginDirFS
    Handler.dtp_handler = BreakingDTP
    Handler.auth_failed_timeout = 0
    Handler.use_sendfile = False

    server = FTPServer(("127.0.0.1", 0), Handler)

    def watch_stdin():
        try:
            sys.stdin.buffer.read()
        finally:
            os._exit(0)

    threading.Thread(target=watch_stdin, daemon=True).start()
    print("PORT %d" % server.address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
