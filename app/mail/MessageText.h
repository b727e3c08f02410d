// The warning mail's text: ISO-2022-JP conversion, header encoded words, the MIME boundary and
// the message laid out line by line. Texts going in are CP932 (Shift-JIS) bytes. Everything
// here is pure apart from MakeBoundary (wall clock) and the attachment file read; any thread.
#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// CP932 -> ISO-2022-JP. Stops at the first zero byte or the end of the view; the result ends
// in ASCII mode. CR LF (or a lone CR) becomes LF; an ESC byte of the input is dropped. A lead byte
// at the very end is dropped; a double-byte code without a JIS X 0208 equivalent is written as the
// geta mark (JIS 0x222E). Half-width katakana become full-width, voiced and semi-voiced marks
// combined with their letter (ｶﾞ as ガ). The result grows as needed: there is no length limit.
std::string ToIso2022Jp(std::string_view cp932);

// "=?ISO-2022-JP?B?" + padded base64 of the bytes up to the first zero + "?=", unfolded.
std::string EncodeHeaderWord(std::string_view iso2022jp);

// "__++ZORIZERAZ__YYYYMMDDhhmmss__MULTIPART++__" from the local time now, or from a given time.
std::string MakeBoundary();
std::string MakeBoundaryAt(std::time_t when);

// Media type announced for an attachment, from the name's extension (case ignored).
std::string AttachmentContentType(std::string_view attachmentName);

// The body split at each "<BR>"; an empty body gives one empty line.
std::vector<std::string> SplitBodyLines(std::string_view body);

// True when the text holds a CR or LF (it would break a command or header line).
bool HasLineBreak(std::string_view text);

// What one message carries. Texts CP932; addresses ASCII.
struct MessageContent {
    std::string SenderAddress;
    std::string SenderName;  // empty: bare address on the "From:" line
    std::string RecipientAddress;
    std::string RecipientName;   // empty: no "To:" line
    std::string Subject;         // empty: "なし"
    std::string Body;            // lines separated by "<BR>"
    std::string AttachmentFile;  // base64 text of the picture, or empty
    std::string AttachmentName;
    std::string MailerName;
};

// Receives one line (CR LF included) at a time, in order.
using MessageLineWriter = std::function<void(std::string_view line)>;

// Writes everything between the server's acceptance of DATA and the final "\r\n" ".\r\n".
// Body lines that start with "." go out with the dot doubled, and an LF inside a body line
// starts a new CR LF line, so nothing in the body can end the data early.
void WriteMessage(const MessageContent& content, const std::string& boundary,
                  const MessageLineWriter& write);
