"""The FTP server of the tests' FtpFixture: pyftpdlib with one account that
may write, serving one folder on a loopback port.

    python3 ftpserver.py PORT USER PASSWORD ROOT STOPFILE

It ends by itself once STOPFILE exists, once ROOT is gone or after ten
minutes, so that it also stops when it was started by a Windows test under
Wine, which can neither kill a Linux program nor see it end.
"""
import os
import sys
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    port, user, password, root, stop_file = sys.argv[1:6]
    # Quiet: under Wine the output of a Linux program reaches the test's own.
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, 1)
    os.dup2(devnull, 2)
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elradfmwMT")
    handler = FTPHandler
    handler.authorizer = authorizer
    server = FTPServer(("127.0.0.1", int(port)), handler)
    deadline = time.monotonic() + 600
    try:
        while not os.path.exists(stop_file) and os.path.isdir(root) and time.monotonic() < deadline:
            server.serve_forever(timeout=0.1, blocking=False)
    finally:
        server.close_all()


if __name__ == "__main__":
    main()
