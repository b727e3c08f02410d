"""aiosmtpd with TLS and SMTP authentication for the mail submission tests.

    smtp_tls_server.py PORT FOLDER CERT KEY MODE USER PASSWORD [MECHANISMS]

MODE is "starttls" (STARTTLS required before AUTH and MAIL) or "implicit" (TLS from the
connect on). MECHANISMS lists the AUTH mechanisms offered (default "PLAIN,LOGIN"). Messages are
saved like smtp_sink.SaveHandler does, with NNN.sess beside them: "tls=0|1" and
"auth=MECHANISM LOGIN". Prints "ready" once it listens; ends with SIGTERM.
"""
import os
import signal
import ssl
import sys

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword

from smtp_sink import SaveHandler


class SessionHandler(SaveHandler):
    async def handle_DATA(self, server, session, envelope):
        tls = session.ssl is not None or (
            server.transport is not None
            and server.transport.get_extra_info("ssl_object") is not None)
        mechanism, login = session.auth_data or ("", "")
        base = os.path.join(self.folder, "%03d" % (self.count + 1))
        with open(base + ".sess", "w", encoding="utf-8") as f:
            f.write("tls=%d\nauth=%s %s\n" % (int(tls), mechanism, login))
        return await super().handle_DATA(server, session, envelope)


def main(argv):
    port, folder, cert, key, mode, user, password = argv[1:8]
    offered = (argv[8] if len(argv) > 8 else "PLAIN,LOGIN").split(",")
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login == user.encode("utf-8")
              and auth_data.password == password.encode("utf-8"))
        return AuthResult(success=ok, handled=False, auth_data=(mechanism, user) if ok else None)

    options = dict(
        authenticator=authenticator,
        auth_required=True,
        auth_require_tls=True,
        auth_exclude_mechanism=[m for m in ("PLAIN", "LOGIN") if m not in offered],
    )
    if mode == "implicit":
        # aiosmtpd does not count TLS from the connect on as TLS for auth_require_tls.
        options["auth_require_tls"] = False
        controller = Controller(SessionHandler(folder), hostname="127.0.0.1", port=int(port),
                                ssl_context=context, **options)
    else:
        controller = Controller(SessionHandler(folder), hostname="127.0.0.1", port=int(port),
                                tls_context=context, require_starttls=True, **options)
    controller.start()
    print("ready", flush=True)
    signal.sigwait({signal.SIGTERM, signal.SIGINT})
    controller.stop()


if __name__ == "__main__":
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGTERM, signal.SIGINT})
    main(sys.argv)
