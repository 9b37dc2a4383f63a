#!/usr/bin/env python3
"""The far end of a pseudo-terminal for the COM port smoke test.

Opens a pty, writes the path of its terminal side to PATH-FILE, waits for
"ping\\r" and answers "pong\\r". It then keeps the line open until it is
stopped or the time limit (seconds, default 60) is over. Exits 1 when no
request arrives in time.
Usage: pty_peer.py PATH-FILE [SECONDS]
"""
import os
import select
import sys
import termios
import time
import tty


def main():
    path_file = sys.argv[1]
    limit = float(sys.argv[2]) if len(sys.argv) > 2 else 60.0
    controller, terminal = os.openpty()
    # Raw: no echo, no line editing, bytes pass unchanged.
    tty.setraw(terminal, termios.TCSANOW)
    # The terminal side stays open here, so the line is never hung up while
    # the program under test opens and closes it.
    with open(path_file + ".tmp", "w") as out:
        out.write(os.ttyname(terminal))
    os.rename(path_file + ".tmp", path_file)

    received = b""
    deadline = time.monotonic() + limit
    while b"ping\r" not in received:
        left = deadline - time.monotonic()
        if left <= 0:
            print("pty_peer: no request, got %r" % received, file=sys.stderr)
            return 1
        ready, _, _ = select.select([controller], [], [], left)
        if ready:
            received += os.read(controller, 64)
    os.write(controller, b"pong\r")
    # Closing the controller would hang up the line under the reader.
    time.sleep(max(0.0, deadline - time.monotonic()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
