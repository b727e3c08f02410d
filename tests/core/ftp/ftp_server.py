"""Loopback FTP server for the tests (Debian's python3-pyftpdlib).

    serve(port, ROOT)  (run by tests/support/testserver.py)

Serves ROOT to the user "quorvex" with the password "secret" (full rights).
"""
import logging

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

import testserver


def serve(port, root):
    logging.basicConfig(level=logging.INFO)
    auth = DummyAuthorizer()
    auth.add_user("quorvex", "secret", root, perm="elradfmwMT")
    handler = FTPHandler
    handler.authorizer = auth
    handler.banner = "quorvex test server ready."
    server = FTPServer(("127.0.0.1", port), handler)
    return testserver.in_background(server)
