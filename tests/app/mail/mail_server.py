"""aiosmtpd for the mail tests, plain or with TLS and SMTP authentication.

    serve(port, FOLDER, "plain")
    serve(port, FOLDER, "starttls"|"implicit", CERT, KEY, MECHANISMS)
    (run by tests/support/testserver.py)

"starttls" requires STARTTLS before AUTH and MAIL; "implicit" speaks TLS from the connect on.
Only the user "alice" with the password "s3cret" logs in, by the AUTH mechanisms MECHANISMS
lists ("PLAIN,LOGIN"). Every message is saved as NNN.eml (the data as received), with NNN.sess
("tls=0|1", "auth=MECHANISM LOGIN" and "helo=NAME", one a line) beside it.
"""
import os
import ssl

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
            f.write("tls=%d\nauth=%s %s\nhelo=%s\n" % (int(tls), mechanism, login,
                                                     session.host_name))
        data = envelope.original_content
        with open(base + ".eml.tmp", "wb") as f:
            f.write(data if data is not None else envelope.content)
        # The .eml appears last and whole: a test waiting for it never reads half a message.
        os.rename(base + ".eml.tmp", base + ".eml")
        return "250 OK"


def authenticator(server, session, envelope, mechanism, auth_data):
    ok = (isinstance(auth_data, LoginPassword) and auth_data.login == b"alice"
          and auth_data.password == b"s3cret")
    return AuthResult(success=ok, handled=False, auth_data=(mechanism, "alice") if ok else None)


def serve(port, folder, mode, cert=None, key=None, mechanisms="PLAIN,LOGIN"):
    options = {}
    if mode != "plain":
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(cert, key)
        offered = mechanisms.split(",")
        options = dict(authenticator=authenticator, auth_required=True,
                       auth_exclude_mechanism=[m for m in ("PLAIN", "LOGIN") if m not in offered])
    if mode == "implicit":
        # aiosmtpd does not count TLS from the connect on as TLS for auth_require_tls.
        options.update(ssl_context=context, auth_require_tls=False)
    elif mode == "starttls":
        options.update(tls_context=context, require_starttls=True, auth_require_tls=True)
    controller = Controller(SaveHandler(folder), hostname="127.0.0.1", port=port, **options)
    controller.start()
    return controller.stop
