#include "app/mail/TestMail.h"

#include <chrono>
#include <thread>

#include "app/mail/MailJob.h"
#include "app/mail/MailSession.h"
#include "app/mail/MessageText.h"
#include "platform/text/Text.h"

namespace {

constexpr char kSubject[] = "Quorvex テストメール";
constexpr char kBody[] =
    "Quorvexからのテストメールです。<BR>このメールが届いていれば、メールの設定は正しく動作して"
    "います。";

// What the server said, safe to show: printable ASCII, other bytes as "?".
std::string Shown(const std::string& reply) {
    std::string out;
    for (char c : reply) {
        unsigned char u = static_cast<unsigned char>(c);
        out.push_back(c == '\n' || (u >= 0x20 && u < 0x7F) ? c : '?');
    }
    return out;
}

const char* ConnectFailure(int code) {
    switch (code) {
        case kMailEmptySetting:
            return "SMTPサーバーが設定されていません。";
        case -2:
            return "SMTPサーバーの名前を解決できません。";
        case -3:
            return "ソケットを作成できません。";
        case -4:
            return "SMTPサーバーに接続できません。";
        case -5:
            return "SMTPサーバーが接続を受け付けませんでした。";
        case kMailLineBreakInText:
            return "設定に改行が含まれています。";
        case kMailTlsFailed:
            return "SSL/TLSの接続を確立できません。";
        default:
            return "SMTPサーバーに接続できません。";
    }
}

const char* SendFailure(int code) {
    switch (code) {
        case kMailEmptySetting:
            return "SMTP認証のユーザー名が設定されていません。";
        case -2:
            return "送信元メールアドレスが設定されていません。";
        case -3:
            return "送信先メールアドレスが設定されていません。";
        case -6:
            return "SMTPサーバーが挨拶（EHLO/HELO）を受け付けませんでした。";
        case -7:
            return "送信元メールアドレスが拒否されました。";
        case -8:
            return "送信先メールアドレスが拒否されました。";
        case -9:
            return "SMTPサーバーがメール本文（DATA）を受け付けませんでした。";
        case kMailLineBreakInText:
            return "設定に改行が含まれています。";
        case kMailTlsFailed:
            return "STARTTLSによる暗号化を確立できません。";
        case kMailStartTlsUnavailable:
            return "SMTPサーバーがSTARTTLSに対応していません。";
        case kMailAuthUnavailable:
            return "SMTPサーバーがSMTP認証（AUTH PLAIN/LOGIN）に対応していません。";
        case kMailAuthRejected:
            return "SMTP認証に失敗しました。";
        case -15:
            return "SMTPサーバーがメールを受け付けませんでした。";
        case -16:
            return "SMTPサーバーがQUITを受け付けませんでした。";
        default:
            return "メール送信に失敗しました。";
    }
}

const char* PopFailure(int code) {
    switch (code) {
        case kMailEmptySetting:
            return "POPサーバー、ユーザーＩＤまたはパスワードが空です。";
        case -2:
            return "POPサーバーの名前を解決できません。";
        case -5:
            return "POPサーバーに接続できません。";
        case -6:
            return "POPサーバーが接続を受け付けませんでした。";
        case -7:
            return "POPサーバーがユーザーＩＤを受け付けませんでした。";
        case -8:
            return "POPサーバーがパスワードを受け付けませんでした。";
        case kMailLineBreakInText:
            return "設定に改行が含まれています。";
        default:
            return "POPサーバーに接続できません。";
    }
}

// local: the failure lies on our side (settings, name, connection, TLS): a missing reply is
// then no news and a reply text is a detail, not something the server said.
TestMailResult Failed(const std::string& what, const std::string& reply, bool local) {
    TestMailResult r;
    r.Text = "テスト送信に失敗しました。\n" + what;
    if (!reply.empty())
        r.Text += (local ? "\n詳細：" : "\nサーバーの応答：") + Shown(reply);
    else if (!local)
        r.Text += "\nサーバーの応答がありません。";
    return r;
}

void Wait(int ms, const std::function<bool()>& stop) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end && !(stop && stop()))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

}  // namespace

TestMailResult SendTestMail(const MailSettings& mail, const TestMailOptions& options) {
    using qv::text::Utf8ToCp932;
    for (const std::string* text : {&mail.SmtpServer, &mail.MailAddress, &mail.SendMailAddress,
                                    &mail.PopServer, &mail.UserID, &mail.Password}) {
        if (HasLineBreak(*text)) return Failed("設定に改行が含まれています。", "", true);
    }
    MailSession session;
    session.SetTimeout(options.TimeoutMs);
    session.SetStopCheck(options.StopRequested);
    session.SetAttachment("", "");
    if (mail.PopSmtp != 0) {
        session.SetPopServer(Utf8ToCp932(mail.PopServer), Utf8ToCp932(mail.UserID),
                             Utf8ToCp932(mail.Password), options.PopPort);
        if (session.PopBeforeSmtp() == 0) {
            int code = session.LastError();
            bool local = code == kMailEmptySetting || code == -2 || code == -4 || code == -5 ||
                         code == kMailLineBreakInText;
            return Failed(std::string("POP-before-SMTPに失敗しました：") + PopFailure(code),
                          local ? "" : session.LastReply(), local);
        }
        Wait(options.SettleMs, options.StopRequested);
    }
    session.SetSmtpServer(Utf8ToCp932(mail.SmtpServer), Utf8ToCp932(mail.MailAddress), "",
                          options.SmtpPort > 0 ? options.SmtpPort : mail.SmtpPort);
    session.SetSubmission(SubmissionOf(mail));
    session.SetContent(Utf8ToCp932(kSubject), Utf8ToCp932(kBody));
    int socket = session.ConnectSmtp();
    if (socket == kNoMailSocket) {
        int code = session.LastError();
        bool local = code == kMailTlsFailed || code == kMailEmptySetting || code == -2 ||
                     code == -3 || code == -4 || code == kMailLineBreakInText;
        return Failed(ConnectFailure(code),
                      !local || code == kMailTlsFailed ? session.LastReply() : "", local);
    }
    int code = session.SendMail(socket, Utf8ToCp932(mail.SendMailAddress), "");
    std::string reply = session.LastReply();
    session.CloseSmtp(socket);
    if (code != 0) {
        bool local = code == kMailTlsFailed || code == kMailEmptySetting || code == -2 ||
                     code == -3 || code == kMailLineBreakInText;
        return Failed(SendFailure(code), !local || code == kMailTlsFailed ? reply : "", local);
    }
    TestMailResult r;
    r.Sent = true;
    r.Text = mail.SendMailAddress + "にテストメールを送信しました。";
    if (!reply.empty()) r.Text += "\nサーバーの応答：" + Shown(reply);
    return r;
}
