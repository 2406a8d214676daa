#!/usr/bin/env python3
"""HTTP server for the prerequisite tests: serves the files of one folder.

  file_server.py <folder>

Prints "PORT <n>" on standard output once it listens on 127.0.0.1.
"""
import functools
import sys
from http.server import SimpleHTTPRequestHandler, ThreadingHTTPServer


class Handler(SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def main():
    handler = functools.partial(Handler, directory=sys.argv[1])
    server = ThreadingHTTPServer(("127.0.0.1", 0), handler)
    print("PORT %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
