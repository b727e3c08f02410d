#include "app/mail/TestMail.h"

#include "app/mail/MailFailure.h"
#include "app/mail/MailJob.h"
#include "app/mail/MailSession.h"
#include "app/mail/MailSocket.h"
#include "app/mail/MessageText.h"
#include "platform/text/Text.h"

namespace {

constexpr char kSubject[] = "Quorvex テストメール";
constexpr char kBody[] =
    "Quorvexからのテストメールです。<BR>このメールが届いていれば、メールの設定は正しく動作して"
    "います。";

TestMailResult Failed(const std::string& reason) {
    TestMailResult r;
    r.Text = std::string("テスト送信に失敗しました。\n") + reason;
    return r;
}

}  // namespace

TestMailResult SendTestMail(const MailSettings& mail, const TestMailOptions& options) {
    using qv::text::Utf8ToCp932;
    for (const std::string* text : {&mail.SmtpServer, &mail.MailAddress, &mail.SendMailAddress,
                                    &mail.PopServer, &mail.UserID, &mail.Password}) {
        if (HasLineBreak(*text)) return Failed(kMailReasonLineBreak);
    }
    MailSession session;
    session.SetTimeout(options.TimeoutMs);
    session.SetStopCheck(options.StopRequested);
    session.SetAttachment("", "");
    if (mail.PopSmtp != 0) {
        session.SetPopServer(Utf8ToCp932(mail.PopServer), Utf8ToCp932(mail.UserID),
                             Utf8ToCp932(mail.Password), options.PopPort);
        if (session.PopBeforeSmtp() == 0)
            return Failed(
                MailFailureReason(MailStep::Pop, session.LastError(), session.LastReply()));
        mailnet::Pause(options.SettleMs, options.StopRequested);
    }
    session.SetSmtpServer(Utf8ToCp932(mail.SmtpServer), Utf8ToCp932(mail.MailAddress), "",
                          options.SmtpPort > 0 ? options.SmtpPort : mail.SmtpPort);
    session.SetSubmission(SubmissionOf(mail));
    session.SetContent(Utf8ToCp932(kSubject), Utf8ToCp932(kBody));
    int socket = session.ConnectSmtp();
    if (socket == kNoMailSocket)
        return Failed(
            MailFailureReason(MailStep::Connect, session.LastError(), session.LastReply()));
    int code = session.SendMail(socket, Utf8ToCp932(mail.SendMailAddress), "");
    std::string reply = session.LastReply();
    session.CloseSmtp(socket);
    if (code != 0) return Failed(MailFailureReason(MailStep::Send, code, reply));
    TestMailResult r;
    r.Sent = true;
    r.Text = mail.SendMailAddress + "にテストメールを送信しました。";
    if (!reply.empty()) r.Text += "\nサーバーの応答：" + ShownReply(reply);
    return r;
}
