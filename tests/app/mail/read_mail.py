"""Reads one received message with Python's email package and prints what the mail tests
check, as JSON: the decoded subject and body, the headers, and each attachment opened with
a real image decoder (Pillow)."""
import email
import email.header
import io
import json
import sys


def decode_header(value):
    if value is None:
        return None
    return str(email.header.make_header(email.header.decode_header(value)))


def main(path):
    with open(path, "rb") as f:
        raw = f.read()
    msg = email.message_from_bytes(raw)
    out = {
        "from": msg.get("From"),
        "to": msg.get("To"),
        "subject_raw": msg.get("Subject"),
        "subject": decode_header(msg.get("Subject")),
        "mailer": msg.get("X-Mailer"),
        "mime_version": msg.get("MIME-Version"),
        "content_type": msg.get_content_type(),
        "boundary": msg.get_boundary(),
        "defects": [type(d).__name__ for d in msg.defects],
        "texts": [],
        "attachments": [],
    }
    for part in msg.walk():
        if part.is_multipart():
            continue
        out["defects"] += [type(d).__name__ for d in part.defects]
        payload = part.get_payload(decode=True) or b""
        if part.get_content_maintype() == "text":
            charset = part.get_content_charset() or "us-ascii"
            out["texts"].append({"charset": charset, "text": payload.decode(charset)})
            continue
        info = {
            "content_type": part.get_content_type(),
            "filename": part.get_filename(),
            "name": part.get_param("name"),
            "size": len(payload),
            "decoded": False,
        }
        try:
            from PIL import Image

            image = Image.open(io.BytesIO(payload))
            image.load()
            info.update(decoded=True, format=image.format, width=image.size[0],
                        height=image.size[1], mode=image.mode)
        except Exception as e:  # the test reports what the decoder said
            info["error"] = repr(e)
        out["attachments"].append(info)
    json.dump(out, sys.stdout, ensure_ascii=True)


if __name__ == "__main__":
    main(sys.argv[1])
