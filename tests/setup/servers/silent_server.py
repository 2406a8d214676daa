#!/usr/bin/env python3
"""A server that accepts connections and never answers them.

  silent_server.py <accepted-file> <release-file>

Prints "PORT <n>" on standard output once it listens on 127.0.0.1. Each
connection it accepts adds a line to <accepted-file> and stays open, unread
and unanswered, until <release-file> exists; then it is closed without a
reply (as are connections that come later).
"""
import os
import select
import socket
import sys


def main():
    accepted_file, release_file = sys.argv[1], sys.argv[2]
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print("PORT %d" % listener.getsockname()[1], flush=True)
    held = []
    while True:
        ready, _, _ = select.select([listener], [], [], 0.02)
        if ready:
            connection, _ = listener.accept()
            held.append(connection)
            with open(accepted_file, "a") as out:
                out.write("accepted\n")
        if os.path.exists(release_file):
            for connection in held:
                # What the client sent is read first, so that the close is a
                # plain end of the stream, not a reset.
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
