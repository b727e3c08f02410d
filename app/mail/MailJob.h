// One warning mail, as the mail thread runs it when a request is seen: the attachment picture,
// the dial-up connection, the POP-before-SMTP log-in, the SMTP transaction, the outcome for the
// event log and the removal of the work files. Runs on the mail thread; it touches only the
// request's copies and the files it names.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/mail/MailSession.h"
#include "app/settings/Settings.h"

// The attachment conversion: the warning picture (24-bit BMP) to the resized, the colour-
// reduced and the encoded (PNG or JPEG) file. Results are not looked at: a step that fails
// leaves its output missing and the mail goes out with an empty picture part.
using AttachmentConverter = std::function<void(
    const std::string& picture, const std::string& resized, const std::string& reduced,
    const std::string& encoded, const PictSettings& pict)>;

// The imaging library's ResizePicture, ConvertColours and EncodePicture in that order; an
// empty function when the program was built without the imaging library.
AttachmentConverter ImagingAttachmentConverter();

struct MailJobRequest {
    // Copies of the settings in force when the request was taken (texts UTF-8).
    BasicSettings Basic;      // ConnMode, DialName
    WarningSettings Warning;  // the current mode's: SendPict, MailTitle, MailText
    MailSettings Mail;
    PictSettings Pict;

    std::string PicturePath;  // this job's own copy of the warning picture; removed at the end
    int64_t CaptureTime = 0;  // seconds since 1970; names the attachment (local time)
    std::string WorkFolder;   // where the job's work files go

    // Receives the outcome for the event log (log kind 2), once per job.
    std::function<void(const std::string& utf8Text)> Log;
    // Empty: ImagingAttachmentConverter().
    AttachmentConverter ConvertPicture;
    // Polled during every wait; true makes the wait fail at once (shutdown).
    std::function<bool()> StopRequested;

    // Fixed by the program; tests shorten them.
    int PopPort = 110;
    int SmtpPort = 0;           // 0: MailSettings' SmtpPort (25 unless the user set one)
    int TimeoutMs = 30000;      // connect and every reply
    int SettleMs = 2000;        // after the POP log-in, and at the end of every job
    int HangUpWaitMs = 2000;    // after taking the connection down
    int DialTimeoutMs = 60000;  // bringing the connection up
};

struct MailJobResult {
    bool Sent = false;
    std::string LogText;  // UTF-8, the text handed to Log
};

MailJobResult RunMailJob(const MailJobRequest& request);

// True when a submission setting (port, security, authentication) differs from its default:
// the mail then goes out with the extended dialogue (EHLO, TLS, AUTH).
bool UsesSubmission(const MailSettings& mail);
// The session's submission settings for these mail settings.
SmtpSubmission SubmissionOf(const MailSettings& mail);

// "YYYYMMDDhhmmss.png" (Type 0) or ".jpg" (Type 1) from the local time of captureTime.
std::string AttachmentFileName(int64_t captureTime, int pictType);

// The dial-up connection of a job: DialUp gives 1 when connected, 0 on failure (after hanging
// up what the failed dial left); HangUp takes a held connection down, waits and gives 1.
class DialUpLink {
  public:
    explicit DialUpLink(int hangUpWaitMs = 2000, int dialTimeoutMs = 60000,
                        std::function<bool()> stop = nullptr);
    ~DialUpLink();
    DialUpLink(const DialUpLink&) = delete;
    DialUpLink& operator=(const DialUpLink&) = delete;

    int DialUp(const std::string& dialName);
    int HangUp();
    bool Held() const { return !held_.empty(); }

  private:
    std::string held_;  // the connection brought up, "" for none
    int hangUpWaitMs_;
    int dialTimeoutMs_;
    std::function<bool()> stop_;
};
