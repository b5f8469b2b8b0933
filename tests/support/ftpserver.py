"""Local FTP server for the tests (pyftpdlib): USER PASSWORD ROOT [--login-dir DIR] [--encoding ENC]
[--umask OCTAL] [--perm PERM] [--tls trusted|untrusted|other-name --trust FILE].
Prints "PORT <n>" once it listens on 127.0.0.1, then "CMD <verb> <argument>" for every command
before it answers it (the password masked). Exits when its standard input closes. --tls offers AUTH
TLS with a new self-signed certificate and writes to FILE the one a client should trust: that one,
another one, or that one made for another host name."""

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
parser.add_argument("--tls", choices=("trusted", "untrusted", "other-name"))
parser.add_argument("--trust")
parser.add_argument("--port", type=int, default=0)  # 0: a free one
args = parser.parse_args()
if args.umask:
    os.umask(int(args.umask, 8))
sys.stdout.reconfigure(encoding="utf-8", errors="backslashreplace")
logging.basicConfig(level=logging.CRITICAL)


class LoginDirFS(AbstractedFS):
    def __init__(self, root, cmd_channel):
        super().__init__(root, cmd_channel)
        self._cwd = args.login_dir


Base = FTPHandler
if args.tls:
    import datetime
    import ipaddress
    from cryptography import x509
    from cryptography.hazmat.primitives import hashes
    from cryptography.hazmat.primitives.asymmetric import ec
    from OpenSSL import SSL, crypto
    from pyftpdlib.handlers import TLS_DTPHandler
    from pyftpdlib.handlers import TLS_FTPHandler as Base

    def certificate(alt):
        key = ec.generate_private_key(ec.SECP256R1())
        name = x509.Name([x509.NameAttribute(x509.NameOID.COMMON_NAME, "zentrow test")])
        now, day = datetime.datetime.now(datetime.timezone.utc), datetime.timedelta(days=1)
        cert = (x509.CertificateBuilder().subject_name(name).issuer_name(name).public_key(key.public_key())
                .serial_number(x509.random_serial_number()).not_valid_before(now - day)
                .not_valid_after(now + day).add_extension(x509.SubjectAlternativeName([alt]), critical=False)
                .sign(key, hashes.SHA256()))
        return crypto.X509.from_cryptography(cert), crypto.PKey.from_cryptography_key(key)

    class DataHandler(TLS_DTPHandler):
        # libcurl starts TLS on the data connection before it sends STOR or RETR; pyftpdlib would
        # take that early data for a hang-up and close the connection.
        def readable(self):
            return self._ssl_accepting or super().readable()

    loopback = x509.IPAddress(ipaddress.ip_address("127.0.0.1"))
    served, key = certificate(x509.DNSName("zentrow.invalid") if args.tls == "other-name" else loopback)
    trusted = certificate(loopback)[0] if args.tls == "untrusted" else served
    with open(args.trust, "wb") as f:
        f.write(crypto.dump_certificate(crypto.FILETYPE_PEM, trusted))
    Base.dtp_handler = DataHandler
    Base.ssl_context = SSL.Context(SSL.TLS_SERVER_METHOD)
    Base.ssl_context.use_certificate(served)
    Base.ssl_context.use_privatekey(key)


class Handler(Base):
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
server = FTPServer(("127.0.0.1", args.port), Handler)


def watch_stdin():
    try:
        sys.stdin.buffer.read()
    finally:
        os._exit(0)


threading.Thread(target=watch_stdin, daemon=True).start()
print("PORT %d" % server.address[1], flush=True)
server.serve_forever()
