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

// The longest a whole job may take. A healthy server answers each of the dozen steps of a mail
// in well under a second, and a picture of a few hundred kilobytes goes out in seconds even on
// a slow line; a job still busy after two minutes is held by a server that stalls or trickles,
// and would hold the mail thread, and the program's exit, for nothing. It is cut short and
// logged as failed.
inline constexpr int kMailJobDeadlineMs = 120000;
// Once the program is exiting, a job in progress gets at most this long to finish its mail
// (never beyond its deadline); waits that only pause end at once.
inline constexpr int kMailExitGraceMs = 10000;

struct MailJobRequest {
    // Copies of the settings in force when the request was taken (texts UTF-8).
    BasicSettings Basic;      // ConnMode, DialName
    WarningSettings Warning;  // the current mode's: SendPict, MailTitle, MailText
    MailSettings Mail;
    PictSettings Pict;

    std::string PicturePath;  // this job's own copy of the warning picture; removed at the end
    int64_t CaptureTime = 0;  // seconds since 1970; names the attachment (local time)
    std::string WorkFolder;   // where the job's work files go

    // Receives the outcome for the event log (log kind 2), once per job, with the reason of a
    // failure ("" when sent) for the user.
    std::function<void(const std::string& utf8Text, const std::string& reason)> Log;
    // True once the program is exiting: the job then ends within ExitGraceMs.
    std::function<bool()> StopRequested;

    // Fixed by the program; tests shorten them.
    int PopPort = 110;
    int SmtpPort = 0;       // 0: MailSettings' SmtpPort (25 unless the user set one)
    int TimeoutMs = 30000;  // each step (a connect, a command, a whole reply) from its start
    int JobDeadlineMs = kMailJobDeadlineMs;
    int ExitGraceMs = kMailExitGraceMs;
    int SettleMs = 2000;        // after the POP log-in, and at the end of every job
    int HangUpWaitMs = 2000;    // after taking the connection down
    int DialTimeoutMs = 60000;  // bringing the connection up
};

struct MailJobResult {
    bool Sent = false;
    std::string LogText;  // UTF-8, the text handed to Log
    std::string Reason;   // UTF-8, why it failed ("" when sent); also printed on stderr
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
