"""aiosmtpd for the mail tests, plain or with TLS and SMTP authentication.

    mail_server.py PORT FOLDER plain
    mail_server.py PORT FOLDER starttls|implicit CERT KEY USER PASSWORD [MECHANISMS]

"starttls" requires STARTTLS before AUTH and MAIL; "implicit" speaks TLS from the connect on.
MECHANISMS lists the AUTH mechanisms offered (default "PLAIN,LOGIN"). Every message is saved
as NNN.eml (the data as received), with NNN.env (HELO name, envelope sender, recipients, one a
line) and NNN.sess ("tls=0|1" and "auth=MECHANISM LOGIN") beside it. Ends with SIGTERM.
"""
import os
import signal
import ssl
import sys

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


class SaveHandler:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, "%03d" % self.count)
        tls = session.ssl is not None or (
            server.transport is not None
            and server.transport.get_extra_info("ssl_object") is not None)
        mechanism, login = session.auth_data or ("", "")
        with open(base + ".sess", "w", encoding="utf-8") as f:
            f.write("tls=%d\nauth=%s %s\n" % (int(tls), mechanism, login))
        with open(base + ".env", "w", encoding="utf-8") as f:
            f.write("%s\n%s\n" % (session.host_name, envelope.mail_from))
            for rcpt in envelope.rcpt_tos:
                f.write(rcpt + "\n")
        data = envelope.original_content
        with open(base + ".eml.tmp", "wb") as f:
            f.write(data if data is not None else envelope.content)
        # The .eml appears last and whole: a test waiting for it never reads half a message.
        os.rename(base + ".eml.tmp", base + ".eml")
        return "250 OK"


def main(argv):
    port, folder, mode = int(argv[1]), argv[2], argv[3]
    handler = SaveHandler(folder)
    if mode == "plain":
        controller = Controller(handler, hostname="127.0.0.1", port=port)
    else:
        cert, key, user, password = argv[4:8]
        offered = (argv[8] if len(argv) > 8 else "PLAIN,LOGIN").split(",")
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(cert, key)

        def authenticator(server, session, envelope, mechanism, auth_data):
            ok = (isinstance(auth_data, LoginPassword)
                  and auth_data.login == user.encode("utf-8")
                  and auth_data.password == password.encode("utf-8"))
            return AuthResult(success=ok, handled=False,
                              auth_data=(mechanism, user) if ok else None)

        options = dict(authenticator=authenticator, auth_required=True,
                       auth_exclude_mechanism=[m for m in ("PLAIN", "LOGIN") if m not in offered])
        if mode == "implicit":
            # aiosmtpd does not count TLS from the connect on as TLS for auth_require_tls.
            controller = Controller(handler, hostname="127.0.0.1", port=port,
                                    ssl_context=context, auth_require_tls=False, **options)
        else:
            controller = Controller(handler, hostname="127.0.0.1", port=port,
                                    tls_context=context, require_starttls=True,
                                    auth_require_tls=True, **options)
    controller.start()
    signal.sigwait({signal.SIGTERM, signal.SIGINT})
    controller.stop()


if __name__ == "__main__":
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGTERM, signal.SIGINT})
    main(sys.argv)
