// The warning settings dialog's "テスト送信": one mail sent at once with the mail settings as
// they stand in the dialog (POP-before-SMTP, port, security and authentication included), and
// the true outcome in words, with the server's reply on failure. Blocks for as long as the
// servers take: call it off the window thread. It uses its own session and touches nothing
// shared, so it may run beside the mail thread.
#pragma once

#include <functional>
#include <string>

#include "app/settings/Settings.h"

struct TestMailOptions {
    int PopPort = 110;
    int SmtpPort = 0;  // 0: the settings' SmtpPort
    int TimeoutMs = 30000;
    int SettleMs = 2000;  // after the POP log-in, as for a warning mail
    // Polled during every wait; true makes the wait fail at once (the dialog was closed).
    std::function<bool()> StopRequested;
};

struct TestMailResult {
    bool Sent = false;
    std::string Text;  // UTF-8, for a message box: what happened, and what the server said
};

// Subject "Quorvex テストメール", a short body, no picture, to SendMailAddress.
TestMailResult SendTestMail(const MailSettings& mail, const TestMailOptions& options = {});
