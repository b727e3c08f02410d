// Replies of the extended SMTP dialogue (EHLO and what follows), assembled from their lines, and
// what the EHLO reply says the server offers. Pure functions, any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct SmtpReply {
    int Code = 0;                    // 0: not a well-formed reply
    std::vector<std::string> Lines;  // the text after "ddd-" / "ddd ", without the line end
    std::string Text;                // the reply's lines as received, joined by "\n"
};

// Takes one whole reply from the front of buffer into reply and gives the bytes it used, or 0
// while the reply is not complete. A line ends at LF (a CR before it is dropped); "ddd-" lines
// continue the reply and the first "ddd " (or bare "ddd") line ends it. A line without a code
// (three digits, the first 1 to 5), or with another code than the first line, ends the reply
// with Code 0.
size_t TakeSmtpReply(std::string_view buffer, SmtpReply& reply);

struct SmtpCapabilities {
    bool StartTls = false;
    bool AuthPlain = false;
    bool AuthLogin = false;
};

// The extensions named in an EHLO reply's lines after the first (keywords in any case; both
// "AUTH PLAIN LOGIN" and the older "AUTH=LOGIN" form).
SmtpCapabilities ParseEhloCapabilities(const SmtpReply& ehlo);
