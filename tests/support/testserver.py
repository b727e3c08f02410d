"""Runs one Python test server for the tests' PythonServer (PythonServer.h):

    testserver.py SCRIPT PORT ARG...

SCRIPT defines serve(port, *args), which starts listening on 127.0.0.1:PORT in the background
and returns a function that stops it (or None). The server runs until SIGTERM or SIGINT.
"""
import importlib.util
import os
import signal
import socketserver
import sys
import threading


class ThreadingServer(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True


def in_background(server):
    """Runs server.serve_forever on a daemon thread; gives its shutdown, if it has one."""
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return getattr(server, "shutdown", None)


def main(script, port, *args):
    # Blocked before any server thread starts, so that only sigwait below takes them.
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGTERM, signal.SIGINT})
    spec = importlib.util.spec_from_file_location("test_server", script)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    stop = module.serve(int(port), *args)
    print("serving on 127.0.0.1:%s" % port, flush=True)
    signal.sigwait({signal.SIGTERM, signal.SIGINT})
    if stop:
        stop()
    os._exit(0)


if __name__ == "__main__":
    main(*sys.argv[1:])
