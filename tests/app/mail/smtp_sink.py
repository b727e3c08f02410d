"""aiosmtpd handler for the mail tests: every message is saved as NNN.eml (the data as the
server received it) with NNN.env beside it (envelope sender, then recipients, one a line)."""
import os


class SaveHandler:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    @classmethod
    def from_cli(cls, parser, *args):
        if len(args) != 1:
            parser.error("smtp_sink.SaveHandler needs the folder to save messages in")
        return cls(args[0])

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, "%03d" % self.count)
        with open(base + ".env.tmp", "w", encoding="utf-8") as f:
            f.write("%s\n%s\n" % (session.host_name, envelope.mail_from))
            for rcpt in envelope.rcpt_tos:
                f.write(rcpt + "\n")
        data = envelope.original_content
        if data is None:
            data = envelope.content
        with open(base + ".eml.tmp", "wb") as f:
            f.write(data)
        # The .eml appears last and whole: a test waiting for it never reads half a message.
        os.rename(base + ".env.tmp", base + ".env")
        os.rename(base + ".eml.tmp", base + ".eml")
        return "250 OK"
