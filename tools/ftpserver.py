#!/usr/bin/python3
"""A small FTP server on 127.0.0.1 for one user, for the demo and for tests.

    /usr/bin/python3 tools/ftpserver.py HOME USER PASSWORD [PORT]

PASSWORD "-" reads the password from the first line of standard input, which keeps it
out of the process list. PORT 0 or none takes a free port. The chosen port is printed on one line as soon
as the server listens; it then serves until SIGTERM or SIGINT ends it.
Run it with /usr/bin/python3: that is the interpreter that sees Debian's pyftpdlib.
"""
import logging
import os
import signal
import sys

try:
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import FTPServer
except ImportError:
    sys.exit("ftpserver.py: pyftpdlib is missing (Debian package python3-pyftpdlib; "
             "run with /usr/bin/python3)")


def usage(msg):
    sys.exit("ftpserver.py: %s\nusage: ftpserver.py HOME USER PASSWORD [PORT]" % msg)


def main(argv):
    if len(argv) not in (4, 5):
        usage("wrong number of arguments")
    home, user, password = argv[1], argv[2], argv[3]
    try:
        port = int(argv[4]) if len(argv) == 5 else 0
    except ValueError:
        usage("port is not a number: %r" % argv[4])
    if not 0 <= port <= 65535:
        usage("port out of range: %d" % port)
    if not os.path.isdir(home):
        usage("home folder does not exist: %r" % home)
    if not user:
        usage("empty user name")
    if password == "-":
        password = sys.stdin.readline().rstrip("\r\n")

    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, os.path.abspath(home), perm="elradfmwMT")

    class Handler(FTPHandler):
        pass

    Handler.authorizer = authorizer
    # Answer a wrong password at once instead of after the default 3 s.
    Handler.auth_failed_timeout = 0
    Handler.banner = "Zentrow test FTP server ready."

    try:
        server = FTPServer(("127.0.0.1", port), Handler)
    except OSError as e:
        sys.exit("ftpserver.py: cannot listen on 127.0.0.1:%d: %s" % (port, e.strerror or e))

    # SIGTERM ends the loop like Ctrl+C does, so the sockets are closed on the way out.
    def stop(signum, frame):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, stop)

    # One line per command and transfer on standard error, for whoever keeps a log.
    logging.basicConfig(level=logging.INFO, stream=sys.stderr,
                        format="%(asctime)s %(message)s")
    print(server.address[1], flush=True)
    try:
        server.serve_forever(handle_exit=False)
    except KeyboardInterrupt:
        pass
    finally:
        server.close_all()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
