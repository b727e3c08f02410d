"""Loopback HTTP server for the tests: records every request and answers from files.

    serve(port, LOG, REPLIES)  (run by tests/support/testserver.py)

Each request is written to LOG/NNNN.txt as the request line, the header lines in the
order received, an empty line and the body. The reply body comes from the first file
that exists of REPLIES/<METHOD><path with / as _>, REPLIES/<METHOD>; otherwise 404.
A file REPLIES/<name>.type gives its content type (default text/html).
"""
import http.server
import itertools
import os
import threading

import testserver

counter_lock = threading.Lock()
counter = itertools.count(1)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, fmt, *args):
        pass

    def record(self, body):
        with counter_lock:
            n = next(counter)
        lines = [self.requestline] + ["%s: %s" % (k, v) for k, v in self.headers.items()]
        data = ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1") + body
        tmp = os.path.join(self.server.log_dir, "%04d.tmp" % n)
        with open(tmp, "wb") as f:
            f.write(data)
        os.rename(tmp, os.path.join(self.server.log_dir, "%04d.txt" % n))

    def answer(self):
        length = int(self.headers.get("Content-Length") or 0)
        self.record(self.rfile.read(length) if length > 0 else b"")
        path = self.path.split("?", 1)[0].replace("/", "_")
        for name in (self.command + path, self.command):
            full = os.path.join(self.server.reply_dir, name)
            if os.path.isfile(full):
                with open(full, "rb") as f:
                    data = f.read()
                ctype = "text/html"
                if os.path.isfile(full + ".type"):
                    with open(full + ".type") as f:
                        ctype = f.read().strip()
                self.send_response(200)
                self.send_header("Content-Type", ctype)
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)
                return
        self.send_error(404)

    do_GET = do_POST = do_PUT = answer


def serve(port, log_dir, reply_dir):
    srv = http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler)
    srv.log_dir, srv.reply_dir = log_dir, reply_dir
    return testserver.in_background(srv)
