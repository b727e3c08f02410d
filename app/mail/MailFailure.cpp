#include "app/mail/MailFailure.h"

#include "app/mail/MailSession.h"

namespace {

struct Reason {
    const char* What;
    // The failure lies on our side (settings, name, connection, TLS): a missing reply is then
    // no news, and a reply text is a detail rather than something the server said.
    bool Local;
};

Reason ConnectReason(int code) {
    switch (code) {
        case kMailEmptySetting:
            return {"SMTPサーバーが設定されていません。", true};
        case -2:
            return {"SMTPサーバーの名前を解決できません。", true};
        case -3:
            return {"ソケットを作成できません。", true};
        case -5:
            return {"SMTPサーバーが接続を受け付けませんでした。", false};
        case kMailLineBreakInText:
            return {kMailReasonLineBreak, true};
        case kMailTlsFailed:
            return {"SSL/TLSの接続を確立できません。", true};
        default:
            return {"SMTPサーバーに接続できません。", true};
    }
}

Reason SendReason(int code) {
    switch (code) {
        case kMailEmptySetting:
            return {"SMTP認証のユーザー名が設定されていません。", true};
        case -2:
            return {"送信元メールアドレスが設定されていません。", true};
        case -3:
            return {"送信先メールアドレスが設定されていません。", true};
        case -6:
            return {"SMTPサーバーが挨拶（EHLO/HELO）を受け付けませんでした。", false};
        case -7:
            return {"送信元メールアドレスが拒否されました。", false};
        case -8:
            return {"送信先メールアドレスが拒否されました。", false};
        case -9:
            return {"SMTPサーバーがメール本文（DATA）を受け付けませんでした。", false};
        case kMailLineBreakInText:
            return {kMailReasonLineBreak, true};
        case kMailTlsFailed:
            return {"STARTTLSによる暗号化を確立できません。", true};
        case kMailStartTlsUnavailable:
            return {"SMTPサーバーがSTARTTLSに対応していません。", false};
        case kMailAuthUnavailable:
            return {"SMTPサーバーがSMTP認証（AUTH PLAIN/LOGIN）に対応していません。", false};
        case kMailAuthRejected:
            return {"SMTP認証に失敗しました。", false};
        case -15:
            return {"SMTPサーバーがメールを受け付けませんでした。", false};
        case -16:
            return {"SMTPサーバーがQUITを受け付けませんでした。", false};
        default:
            return {"メール送信に失敗しました。", false};
    }
}

Reason PopReason(int code) {
    switch (code) {
        case kMailEmptySetting:
            return {"POPサーバー、ユーザーＩＤまたはパスワードが空です。", true};
        case -2:
            return {"POPサーバーの名前を解決できません。", true};
        case -6:
            return {"POPサーバーが接続を受け付けませんでした。", false};
        case -7:
            return {"POPサーバーがユーザーＩＤを受け付けませんでした。", false};
        case -8:
            return {"POPサーバーがパスワードを受け付けませんでした。", false};
        case kMailLineBreakInText:
            return {kMailReasonLineBreak, true};
        default:
            return {"POPサーバーに接続できません。", true};
    }
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
    Reason r = step == MailStep::Pop       ? PopReason(code)
               : step == MailStep::Connect ? ConnectReason(code)
                                           : SendReason(code);
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
