"""A small HTTP CONNECT proxy on loopback for the FTP proxy test.

    serve(port, LOG)  (run by tests/support/testserver.py)

Appends the request line and the Proxy-Authorization header of every CONNECT to LOG,
then relays bytes both ways.
"""
import select
import socket
import socketserver
import threading

import testserver

log_lock = threading.Lock()


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = self.request.recv(4096)
            if not chunk:
                return
            head += chunk
        text, rest = head.split(b"\r\n\r\n", 1)
        lines = text.decode("latin-1").split("\r\n")
        auth = ""
        for line in lines[1:]:
            if line.lower().startswith("proxy-authorization:"):
                auth = line.split(":", 1)[1].strip()
        with log_lock, open(self.server.log, "a") as f:
            f.write("%s|%s\n" % (lines[0], auth))
        parts = lines[0].split()
        if len(parts) != 3 or parts[0] != "CONNECT":
            self.request.sendall(b"HTTP/1.1 405 Method Not Allowed\r\n\r\n")
            return
        host, port = parts[1].rsplit(":", 1)
        try:
            upstream = socket.create_connection((host, int(port)), timeout=10)
        except OSError:
            self.request.sendall(b"HTTP/1.1 502 Bad Gateway\r\n\r\n")
            return
        self.request.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
        if rest:
            upstream.sendall(rest)
        socks = [self.request, upstream]
        try:
            while True:
                ready, _, _ = select.select(socks, [], [], 30)
                if not ready:
                    break
                for s in ready:
                    data = s.recv(65536)
                    if not data:
                        return
                    (upstream if s is self.request else self.request).sendall(data)
        finally:
            upstream.close()


def serve(port, log):
    srv = testserver.ThreadingServer(("127.0.0.1", port), Handler)
    srv.log = log
    return testserver.in_background(srv)
