#!/usr/bin/env python3
"""FTP server for the download tests (pyftpdlib).

  ftp_server.py <root> [--user U --password P] [--no-rest] [--short N]

Serves <root> read-only to the user (anonymous when none is given); with
--no-rest the REST command is refused; with --short every transfer ends
after N bytes while SIZE still tells the whole size. Prints "PORT <n>" on standard output
once it listens on 127.0.0.1.
"""
import argparse
import logging

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    parser.add_argument("--user")
    parser.add_argument("--password", default="")
    parser.add_argument("--no-rest", action="store_true")
    parser.add_argument("--short", type=int)
    args = parser.parse_args()
    logging.basicConfig(level=logging.CRITICAL)
    authorizer = DummyAuthorizer()
    if args.user:
        authorizer.add_user(args.user, args.password, args.root, perm="elr")
    else:
        authorizer.add_anonymous(args.root, perm="elr")

    class Handler(FTPHandler):
        pass

    class ShortFile:
        def __init__(self, file, limit):
            self.file, self.left, self.name, self.closed = file, limit, file.name, False

        def read(self, size=-1):
            data = self.file.read(min(size, self.left) if size >= 0 else self.left)
            self.left -= len(data)
            return data

        def seek(self, *args):
            return self.file.seek(*args)

        def close(self):
            self.closed = True
            self.file.close()

    class ShortFS(AbstractedFS):
        def open(self, filename, mode):
            return ShortFile(super().open(filename, mode), args.short)

    if args.short is not None:
        Handler.abstracted_fs = ShortFS
    Handler.authorizer = authorizer
    Handler.auth_failed_timeout = 0  # a refused login answers at once
    if args.no_rest:
        Handler.proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items() if k != "REST"}
    server = FTPServer(("127.0.0.1", 0), Handler)
    print("PORT %d" % server.address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
