#include "app/mail/SmtpReply.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::vector<std::string> Words(std::string_view text) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
        if (i > start) words.emplace_back(text.substr(start, i - start));
    }
    return words;
}

}  // namespace

size_t TakeSmtpReply(std::string_view buffer, SmtpReply& reply) {
    reply = SmtpReply{};
    size_t pos = 0;
    int firstCode = -1;
    for (;;) {
        size_t end = buffer.find('\n', pos);
        if (end == std::string_view::npos) {
            reply = SmtpReply{};
            return 0;
        }
        std::string_view line = buffer.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos = end + 1;
        if (!reply.Text.empty()) reply.Text += '\n';
        reply.Text.append(line);
        bool wellFormed = line.size() >= 3 && line[0] >= '1' && line[0] <= '5' &&
                          IsDigit(line[1]) && IsDigit(line[2]) &&
                          (line.size() == 3 || line[3] == ' ' || line[3] == '-');
        int code = wellFormed ? (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0') : 0;
        if (!wellFormed || (firstCode >= 0 && code != firstCode)) {
            reply.Code = 0;
            return pos;
        }
        firstCode = code;
        reply.Lines.emplace_back(line.size() > 4 ? line.substr(4) : std::string_view());
        if (line.size() == 3 || line[3] == ' ') {
            reply.Code = code;
            return pos;
        }
    }
}

SmtpCapabilities ParseEhloCapabilities(const SmtpReply& ehlo) {
    SmtpCapabilities caps;
    if (ehlo.Code != 250) return caps;
    for (size_t i = 1; i < ehlo.Lines.size(); ++i) {
        std::vector<std::string> words = Words(Upper(ehlo.Lines[i]));
        if (words.empty()) continue;
        std::vector<std::string> mechanisms;
        if (words[0] == "STARTTLS") {
            caps.StartTls = true;
        } else if (words[0] == "AUTH") {
            mechanisms.assign(words.begin() + 1, words.end());
        } else if (words[0].compare(0, 5, "AUTH=") == 0) {
            mechanisms.assign(words.begin() + 1, words.end());
            mechanisms.push_back(words[0].substr(5));
        }
        for (const std::string& m : mechanisms) {
            if (m == "PLAIN") caps.AuthPlain = true;
            if (m == "LOGIN") caps.AuthLogin = true;
        }
    }
    return caps;
}
