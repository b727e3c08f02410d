#!/usr/bin/python3
# A real RTSP server for the stream camera tests (GStreamer's RTSP server library):
# serves an H.264 MP4 file at rtsp://127.0.0.1:PORT/cam until killed.
import sys

import gi

gi.require_version("Gst", "1.0")
gi.require_version("GstRtspServer", "1.0")
from gi.repository import GLib, Gst, GstRtspServer  # noqa: E402


def main():
    port, path = sys.argv[1], sys.argv[2]
    Gst.init(None)
    server = GstRtspServer.RTSPServer()
    server.set_address("127.0.0.1")
    server.set_service(port)
    factory = GstRtspServer.RTSPMediaFactory()
    factory.set_launch(
        "( filesrc location=%s ! qtdemux ! rtph264pay name=pay0 config-interval=1 )" % path)
    factory.set_shared(True)
    server.get_mount_points().add_factory("/cam", factory)
    if server.attach(None) == 0:
        sys.exit(1)
    print("listening", flush=True)
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
