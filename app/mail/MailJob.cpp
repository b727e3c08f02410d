#include "app/mail/MailJob.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

#include "app/imaging/PictureConversion.h"
#include "app/mail/Base64.h"
#include "app/mail/MailFailure.h"
#include "app/mail/MailSession.h"
#include "app/mail/MailSocket.h"
#include "app/mail/MessageText.h"
#include "platform/dialup/DialUp.h"
#include "platform/file/Owners.h"
#include "platform/text/Text.h"

namespace {

constexpr char kTextDialFailed[] = "ダイアルアップに失敗しました";
constexpr char kTextPopFailed[] = "POP-before-SMTPに失敗しました";
constexpr char kTextSendFailed[] = "メール送信に失敗しました";
constexpr char kTextSentTo[] = "にメール送信";  // after the recipient address

using Clock = std::chrono::steady_clock;

// The job's bound: its overall deadline, brought forward to the exit grace once the program
// says it is ending. Asked on the mail thread only.
class JobBound {
  public:
    explicit JobBound(const MailJobRequest& request)
        : exiting_(request.StopRequested),
          end_(Clock::now() + std::chrono::milliseconds(request.JobDeadlineMs)),
          graceMs_(request.ExitGraceMs) {}

    // True once the job must end; every network wait of the job asks this.
    bool Over() {
        if (!exitSeen_ && exiting_ && exiting_()) {
            exitSeen_ = true;
            end_ = std::min(end_, Clock::now() + std::chrono::milliseconds(graceMs_));
        }
        return Clock::now() >= end_;
    }
    // True when a pause should end: the job is over or the program is exiting.
    bool PauseOver() { return Over() || exitSeen_; }

  private:
    std::function<bool()> exiting_;
    Clock::time_point end_;
    int graceMs_;
    bool exitSeen_ = false;
};

// An empty file of a fresh name "B64XXXXXX" in the folder; "" when it cannot be made.
std::string MakeBase64File(const std::string& folder) {
    std::string path = qv::text::JoinPath(folder, "B64XXXXXX");
    qv::UniqueFd fd(::mkstemp(path.data()));
    return fd ? path : "";
}

// Removes the job's work files whatever happened, also on an early return.
class WorkFiles {
  public:
    ~WorkFiles() {
        for (const std::string& path : paths_)
            if (!path.empty()) ::unlink(path.c_str());
    }
    void Add(const std::string& path) { paths_.push_back(path); }

  private:
    std::vector<std::string> paths_;
};

}  // namespace

std::string AttachmentFileName(int64_t captureTime, int pictType) {
    std::time_t t = static_cast<std::time_t>(captureTime);
    std::tm local{};
    localtime_r(&t, &local);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d.%s", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  pictType == 0 ? "png" : "jpg");
    return buf;
}

DialUpLink::DialUpLink(int hangUpWaitMs, int dialTimeoutMs, std::function<bool()> stop)
    : hangUpWaitMs_(hangUpWaitMs), dialTimeoutMs_(dialTimeoutMs), stop_(std::move(stop)) {}

DialUpLink::~DialUpLink() {
    // A connection is never left up behind the job's back.
    if (Held()) qv::dialup::TakeDown(held_, 10000);
}

int DialUpLink::DialUp(const std::string& dialName) {
    if (Held()) HangUp();
    held_.clear();
    // The dial may leave the connection half-activated when it fails; it is taken down below.
    held_ = dialName;
    if (!dialName.empty() && qv::dialup::BringUp(dialName, dialTimeoutMs_, stop_)) return 1;
    HangUp();
    return 0;
}

int DialUpLink::HangUp() {
    if (Held()) {
        qv::dialup::TakeDown(held_, 10000);
        mailnet::Pause(hangUpWaitMs_, stop_);
        held_.clear();
    }
    return 1;
}

bool UsesSubmission(const MailSettings& mail) {
    const MailSettings d;
    return mail.SmtpPort != d.SmtpPort || mail.SmtpSecurity != d.SmtpSecurity ||
           mail.SmtpAuth != d.SmtpAuth;
}

SmtpSubmission SubmissionOf(const MailSettings& mail) {
    SmtpSubmission s;
    s.Extended = UsesSubmission(mail);
    s.Security = mail.SmtpSecurity;
    s.Auth = mail.SmtpAuth != 0;
    s.User = mail.SmtpUser;
    s.Password = mail.SmtpPassword;
    return s;
}

MailJobResult RunMailJob(const MailJobRequest& request) {
    using qv::text::Utf8ToCp932;
    JobBound bound(request);
    const std::function<bool()> stop = [&bound] { return bound.Over(); };
    const std::function<bool()> pauseOver = [&bound] { return bound.PauseOver(); };
    WorkFiles work;
    work.Add(request.PicturePath);
    MailSession session;
    session.SetTimeout(request.TimeoutMs);
    session.SetStopCheck(stop);

    // 1. The attachment. Its work file names are removed at the end even when unused.
    std::string resized = qv::text::JoinPath(request.WorkFolder, "QVTmp201.___");
    std::string reduced = qv::text::JoinPath(request.WorkFolder, "QVTmp202.___");
    std::string encoded = qv::text::JoinPath(request.WorkFolder, "QVTmp203.___");
    work.Add(resized);
    work.Add(reduced);
    work.Add(encoded);
    if (request.Warning.SendPict != 0) {
        // A step that fails leaves its output missing: the picture part then goes out empty.
        qv::ResizePicture(request.PicturePath, resized, request.Pict);
        qv::ConvertColours(resized, reduced, request.Pict);
        qv::EncodePicture(reduced, encoded, request.Pict);
        std::string base64File = MakeBase64File(request.WorkFolder);
        work.Add(base64File);
        if (!base64File.empty()) Base64EncodeFile(encoded, base64File);
        session.SetAttachment(base64File,
                              AttachmentFileName(request.CaptureTime, request.Pict.Type));
    } else {
        session.SetAttachment("", "");
    }

    // 2.
    MailJobResult result;
    std::string logText;
    std::string reason;
    bool send = true;
    const MailSettings& mail = request.Mail;

    // A line break in an address, the subject or a server name would reach the wire as a
    // command or header line of its own: such a mail is not sent at all.
    bool unsafe = HasLineBreak(mail.SmtpServer) || HasLineBreak(mail.MailAddress) ||
                  HasLineBreak(mail.SendMailAddress) || HasLineBreak(request.Warning.MailTitle) ||
                  (mail.PopSmtp != 0 && HasLineBreak(mail.PopServer));

    // 3. Dial-up.
    DialUpLink link(request.HangUpWaitMs, request.DialTimeoutMs, stop);
    bool dialled = true;
    if (request.Basic.ConnMode != 0 && !unsafe) {
        if (link.DialUp(request.Basic.DialName) == 0) {
            logText = kTextDialFailed;
            reason = kMailReasonDialUp;
            dialled = false;
        }
    }

    if (unsafe) {
        logText = kTextSendFailed;
        reason = kMailReasonLineBreak;
    } else if (dialled) {
        // 4. POP-before-SMTP.
        if (mail.PopSmtp != 0) {
            session.SetPopServer(Utf8ToCp932(mail.PopServer), Utf8ToCp932(mail.UserID),
                                 Utf8ToCp932(mail.Password), request.PopPort);
            if (session.PopBeforeSmtp() == 0) {
                logText = kTextPopFailed;
                reason = MailFailureReason(MailStep::Pop, session.LastError(), session.LastReply());
                send = false;
            }
            mailnet::Pause(request.SettleMs, pauseOver);
        }
        // 5. SMTP.
        if (send) {
            session.SetSmtpServer(Utf8ToCp932(mail.SmtpServer), Utf8ToCp932(mail.MailAddress), "",
                                  request.SmtpPort > 0 ? request.SmtpPort : mail.SmtpPort);
            session.SetSubmission(SubmissionOf(mail));
            session.SetContent(Utf8ToCp932(request.Warning.MailTitle),
                               Utf8ToCp932(request.Warning.MailText));
            int socket = session.ConnectSmtp();
            if (socket == kNoMailSocket) {
                logText = kTextSendFailed;
                reason =
                    MailFailureReason(MailStep::Connect, session.LastError(), session.LastReply());
            } else {
                int code = session.SendMail(socket, Utf8ToCp932(mail.SendMailAddress), "");
                if (code == 0) {
                    logText = mail.SendMailAddress + kTextSentTo;
                    result.Sent = true;
                } else {
                    logText = kTextSendFailed;
                    reason = MailFailureReason(MailStep::Send, code, session.LastReply());
                }
                session.CloseSmtp(socket);
            }
        }
    }

    // A job cut short failed, whichever step it was in.
    if (!result.Sent && bound.Over()) {
        logText = kTextSendFailed;
        reason = kMailReasonCutShort;
    }

    // 6. The wait comes whatever happened before; the connection goes only when dialled.
    mailnet::Pause(request.SettleMs, pauseOver);
    if (request.Basic.ConnMode != 0 && !unsafe) link.HangUp();

    // 7.
    result.LogText = logText;
    result.Reason = reason;
    if (!reason.empty()) std::fprintf(stderr, "%s: %s\n", logText.c_str(), reason.c_str());
    if (request.Log) request.Log(logText, reason);
    // 8. The work files go when `work` does.
    return result;
}
