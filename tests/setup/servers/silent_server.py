#!/usr/bin/env python3
"""A server that accepts connections and never answers them.

  silent_server.py <accepted-file> <release-file>

Prints "PORT <n>" once it listens on 127.0.0.1. Each connection it accepts
adds a line to <accepted-file> and stays open, unanswered, until
<release-file> exists; then it ends without a reply (read first, so that the
close is an end of stream, not a reset), as do later ones.
"""
import os
import select
import socket
import sys


def main():
    accepted_file, release_file = sys.argv[1], sys.argv[2]
    listener = socket.create_server(("127.0.0.1", 0))
    print("PORT %d" % listener.getsockname()[1], flush=True)
    held = []
    while True:
        if select.select([listener], [], [], 0.02)[0]:
            held.append(listener.accept()[0])
            with open(accepted_file, "a") as out:
                out.write("accepted\n")
        if os.path.exists(release_file):
            for connection in held:
                connection.setblocking(False)
                try:
                    connection.recv(65536)
                except OSError:
                    pass
                connection.shutdown(socket.SHUT_RDWR)
                connection.close()
            held = []


if __name__ == "__main__":
    main()
