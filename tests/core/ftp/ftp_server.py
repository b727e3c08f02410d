#!/usr/bin/python3
"""Loopback FTP server for the tests (Debian's python3-pyftpdlib).

Serves ROOT to the user "quorvex" with the password "secret" (full rights).
"""
import argparse
import logging

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--root", required=True)
    a = p.parse_args()
    logging.basicConfig(level=logging.INFO)
    auth = DummyAuthorizer()
    auth.add_user("quorvex", "secret", a.root, perm="elradfmwMT")
    handler = FTPHandler
    handler.authorizer = auth
    handler.banner = "quorvex test server ready."
    server = FTPServer(("127.0.0.1", a.port), handler)
    server.serve_forever()


if __name__ == "__main__":
    main()
