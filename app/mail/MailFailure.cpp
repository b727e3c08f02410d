#include "app/mail/MailFailure.h"

#include "app/mail/MailSession.h"

namespace {

struct Reason {
    int Code;
    const char* What;
    // The failure lies on our side (settings, name, connection, TLS): a missing reply is then
    // no news, and a reply text is a detail rather than something the server said.
    bool Local;
};

// Per step: the reasons by code; the last entry serves any other code.
constexpr Reason kConnectReasons[] = {
    {kMailEmptySetting, "SMTPサーバーが設定されていません。", true},
    {-2, "SMTPサーバーの名前を解決できません。", true},
    {-3, "ソケットを作成できません。", true},
    {-5, "SMTPサーバーが接続を受け付けませんでした。", false},
    {kMailLineBreakInText, kMailReasonLineBreak, true},
    {kMailTlsFailed, "SSL/TLSの接続を確立できません。", true},
    {0, "SMTPサーバーに接続できません。", true},
};
constexpr Reason kSendReasons[] = {
    {kMailEmptySetting, "SMTP認証のユーザー名が設定されていません。", true},
    {-2, "送信元メールアドレスが設定されていません。", true},
    {-3, "送信先メールアドレスが設定されていません。", true},
    {-6, "SMTPサーバーが挨拶（EHLO/HELO）を受け付けませんでした。", false},
    {-7, "送信元メールアドレスが拒否されました。", false},
    {-8, "送信先メールアドレスが拒否されました。", false},
    {-9, "SMTPサーバーがメール本文（DATA）を受け付けませんでした。", false},
    {kMailLineBreakInText, kMailReasonLineBreak, true},
    {kMailTlsFailed, "STARTTLSによる暗号化を確立できません。", true},
    {kMailStartTlsUnavailable, "SMTPサーバーがSTARTTLSに対応していません。", false},
    {kMailAuthUnavailable, "SMTPサーバーがSMTP認証（AUTH PLAIN/LOGIN）に対応していません。", false},
    {kMailAuthRejected, "SMTP認証に失敗しました。", false},
    {-15, "SMTPサーバーがメールを受け付けませんでした。", false},
    {-16, "SMTPサーバーがQUITを受け付けませんでした。", false},
    {0, "メール送信に失敗しました。", false},
};
constexpr Reason kPopReasons[] = {
    {kMailEmptySetting, "POPサーバー、ユーザーＩＤまたはパスワードが空です。", true},
    {-2, "POPサーバーの名前を解決できません。", true},
    {-6, "POPサーバーが接続を受け付けませんでした。", false},
    {-7, "POPサーバーがユーザーＩＤを受け付けませんでした。", false},
    {-8, "POPサーバーがパスワードを受け付けませんでした。", false},
    {kMailLineBreakInText, kMailReasonLineBreak, true},
    {0, "POPサーバーに接続できません。", true},
};

template <size_t N>
const Reason& Find(const Reason (&reasons)[N], int code) {
    for (const Reason& r : reasons)
        if (r.Code == code) return r;
    return reasons[N - 1];
}

}  // namespace

std::string ShownReply(const std::string& reply) {
    std::string out;
    for (char c : reply) {
        unsigned char u = static_cast<unsigned char>(c);
        out.push_back(c == '\n' || (u >= 0x20 && u < 0x7F) ? c : '?');
    }
    return out;
}

std::string MailFailureReason(MailStep step, int code, const std::string& reply) {
    const Reason& r = step == MailStep::Pop       ? Find(kPopReasons, code)
                      : step == MailStep::Connect ? Find(kConnectReasons, code)
                                                  : Find(kSendReasons, code);
    std::string text = r.What;
    if (step == MailStep::Pop) text = "POP-before-SMTPに失敗しました：" + text;
    // A local failure's reply is only worth showing when it says why TLS failed.
    std::string detail = !r.Local || code == kMailTlsFailed ? reply : "";
    if (!detail.empty())
        text += (r.Local ? "\n詳細：" : "\nサーバーの応答：") + ShownReply(detail);
    else if (!r.Local)
        text += "\nサーバーの応答がありません。";
    return text;
}
