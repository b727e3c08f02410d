// Shift-JIS text of any shape through the ISO-2022-JP conversion and the message writer: no
// read past the text, a result that always ends in ASCII mode, and a body that can never end
// the SMTP data early.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/mail/MessageText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy so that any read past the end is caught.
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string out = ToIso2022Jp(text);
    size_t kanji = out.rfind("\x1b$B");
    if (kanji != std::string::npos && out.find("\x1b(B", kanji) == std::string::npos) std::abort();
    if (out.find('\r') != std::string::npos) std::abort();
    if (out.find('\0') != std::string::npos) std::abort();
    std::string word = EncodeHeaderWord(out);
    if (word.compare(0, 16, "=?ISO-2022-JP?B?") != 0) std::abort();

    MessageContent content;
    content.SenderAddress = "a@b";
    content.RecipientAddress = "c@d";
    content.Subject = text;
    content.Body = text;
    content.MailerName = "Quorvex";
    std::string message;
    WriteMessage(content, "B", [&](std::string_view line) { message += line; });
    if (message.find("\r\n.\r\n") != std::string::npos) std::abort();
    for (size_t i = 0; i < message.size(); ++i)
        if (message[i] == '\n' && (i == 0 || message[i - 1] != '\r')) std::abort();
    return 0;
}
