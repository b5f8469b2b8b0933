#!/usr/bin/python3
"""A small FTP server on 127.0.0.1 for one user, for the demo and for tests.

    /usr/bin/python3 tools/ftpserver.py HOME USER PASSWORD [PORT] [OPTIONS]

PASSWORD "-" reads the password from the first line of standard input, which keeps it
out of the process list. PORT 0 or none takes a free port. The chosen port is printed on one line as soon
as the server listens; it then serves until SIGTERM or SIGINT ends it.
Run it with /usr/bin/python3: that is the interpreter that sees Debian's pyftpdlib.

Options, for tests that need a server unlike the demo's (an empty value keeps the default):
  --login-dir DIR   where a log-in starts, as the client sees it ("/", the default, is HOME)
  --encoding ENC    how command lines, and so paths, are decoded (default utf8)
  --umask OCTAL     for the files it stores: 077 makes them 0600, as vsftpd does
  --perm PERM       pyftpdlib's permissions (default elradfmwMT; without M, SITE CHMOD is refused)
  --tls KIND --trust FILE
                    AUTH TLS with a new self-signed certificate; FILE receives the one a client
                    should trust: that one (trusted), another one (untrusted), or that one made for
                    another host name (other-name)
  --fault KIND      what some real servers do: quit-silent (QUIT never answered), site-silent
                    (SITE never answered), pasv-closed (the passive reply names a port nothing
                    listens on, as behind a firewall), user-421 (a clear-text USER refused with
                    pure-ftpd's multi-line 421 asking for TLS, then the connection closed),
                    silent (takes the connection, never says a word), retr-silent (RETR never
                    answered)
  --debug           log every command, before it is answered, and every reply
"""
import argparse
import logging
import os
import signal
import socket
import sys

try:
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.filesystems import AbstractedFS
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import FTPServer
except ImportError:
    sys.exit("ftpserver.py: pyftpdlib is missing (Debian package python3-pyftpdlib; "
             "run with /usr/bin/python3)")


def usage(msg):
    sys.exit("ftpserver.py: %s\nusage: ftpserver.py HOME USER PASSWORD [PORT] [OPTIONS]" % msg)


def parse_options(argv):
    parser = argparse.ArgumentParser(prog="ftpserver.py", add_help=False)
    parser.add_argument("--login-dir", default="/")
    parser.add_argument("--encoding", default="utf8")
    parser.add_argument("--umask", type=lambda text: int(text, 8) if text else None)
    parser.add_argument("--perm")
    parser.add_argument("--tls", choices=("", "trusted", "untrusted", "other-name"))
    parser.add_argument("--trust")
    parser.add_argument("--fault", default="",
                        choices=("", "quit-silent", "site-silent", "pasv-closed", "user-421", "silent",
                                 "retr-silent"))
    parser.add_argument("--debug", action="store_true")
    options, extra = parser.parse_known_args(argv)
    if extra:
        usage("wrong number of arguments")
    if bool(options.tls) != bool(options.trust):
        usage("--tls and --trust go together")
    return options


def tls_handlers(kind, trust_file):
    """FTPS handlers serving a new certificate; the one a client should trust goes to trust_file."""
    import datetime
    import ipaddress

    from cryptography import x509
    from cryptography.hazmat.primitives import hashes
    from cryptography.hazmat.primitives.asymmetric import ec
    from OpenSSL import SSL, crypto
    from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler

    def certificate(alt):
        key = ec.generate_private_key(ec.SECP256R1())
        name = x509.Name([x509.NameAttribute(x509.NameOID.COMMON_NAME, "zentrow test")])
        now, day = datetime.datetime.now(datetime.timezone.utc), datetime.timedelta(days=1)
        cert = (x509.CertificateBuilder().subject_name(name).issuer_name(name)
                .public_key(key.public_key()).serial_number(x509.random_serial_number())
                .not_valid_before(now - day).not_valid_after(now + day)
                .add_extension(x509.SubjectAlternativeName([alt]), critical=False)
                .sign(key, hashes.SHA256()))
        return crypto.X509.from_cryptography(cert), crypto.PKey.from_cryptography_key(key)

    class DataHandler(TLS_DTPHandler):
        # libcurl starts TLS on the data connection before it sends STOR or RETR; pyftpdlib would
        # take that early data for a hang-up and close the connection.
        def readable(self):
            return self._ssl_accepting or super().readable()

    loopback = x509.IPAddress(ipaddress.ip_address("127.0.0.1"))
    served, key = certificate(x509.DNSName("zentrow.invalid") if kind == "other-name" else loopback)
    trusted = certificate(loopback)[0] if kind == "untrusted" else served
    with open(trust_file, "wb") as f:
        f.write(crypto.dump_certificate(crypto.FILETYPE_PEM, trusted))
    context = SSL.Context(SSL.TLS_SERVER_METHOD)
    context.use_certificate(served)
    context.use_privatekey(key)

    class Handler(TLS_FTPHandler):
        dtp_handler = DataHandler
        ssl_context = context

    return Handler


def main(argv):
    if len(argv) < 4:
        usage("wrong number of arguments")
    # The options follow the positional arguments, so a password may start with "--".
    count = 4 if len(argv) > 4 and not argv[4].startswith("--") else 3
    home, user, password = argv[1], argv[2], argv[3]
    options = parse_options(argv[1 + count:])
    try:
        port = int(argv[4]) if count == 4 else 0
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
    if options.umask is not None:
        os.umask(options.umask)

    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, os.path.abspath(home), perm=options.perm or "elradfmwMT")

    class LoginDirFS(AbstractedFS):
        def __init__(self, root, cmd_channel):
            super().__init__(root, cmd_channel)
            self._cwd = options.login_dir

    base = tls_handlers(options.tls, options.trust) if options.tls else FTPHandler

    class Handler(base):
        abstracted_fs = LoginDirFS

        def decode(self, data):
            return data.decode(options.encoding, self.unicode_errors)

        def handle(self):
            if options.fault != "silent":
                super().handle()

        def ftp_RETR(self, file):
            if options.fault != "retr-silent":
                return super().ftp_RETR(file)

        def ftp_QUIT(self, line):
            if options.fault != "quit-silent":
                super().ftp_QUIT(line)

        def ftp_SITE_CHMOD(self, path, mode):
            if options.fault != "site-silent":
                super().ftp_SITE_CHMOD(path, mode)

        def ftp_USER(self, line):
            if options.fault != "user-421":
                return super().ftp_USER(line)
            self.push("421-Sorry, cleartext sessions and weak ciphers are not accepted on this server.\r\n"
                      "421-Please reconnect using TLS security mechanisms.\r\n421 Logout.\r\n")
            self.close_when_done()

        def _make_epasv(self, extmode=False):
            if options.fault != "pasv-closed":
                return super()._make_epasv(extmode)
            probe = socket.socket()
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
            probe.close()
            if extmode:
                self.respond("229 Entering extended passive mode (|||%d|)." % port)
            else:
                self.respond("227 Entering passive mode (127,0,0,1,%d,%d)." % (port >> 8, port & 255))

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
    logging.basicConfig(level=logging.DEBUG if options.debug else logging.INFO, stream=sys.stderr,
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
