// The event history: the days of the daily log files and, for each day, its saved pictures and
// mail outcomes, newest first. One model for every viewer (the history window, a web page).
// Plain C++; reads files only, so it may run on any thread.
#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace qv::history {

enum Kind { kDetect = 0, kTimer = 1, kMail = 2 };

struct Entry {
    std::tm When{};  // local time of the log line
    int Kind = kDetect;
    std::string Text;      // the picture's file name, or the mail outcome (UTF-8)
    std::string Picture;   // the picture's full path; "" for mail lines
    bool Exists = false;   // the picture is still on disk
    bool Warning = false;  // a detect picture that raised a warning (a mail outcome follows it)
    bool MailFailed = false;
};

struct Folders {
    std::string Log;     // the log folder
    std::string Detect;  // the detect folder
    std::string Timer;   // the timer folder
};

// "YYYY-MM-DD" of every daily log file, newest first.
std::vector<std::string> Days(const std::string& logFolder);

// The entries of one day ("YYYY-MM-DD"), newest first. Lines that do not read as log lines are
// passed over.
std::vector<Entry> ReadDay(const Folders& folders, const std::string& day);

// The text of a mail outcome that reports a failure.
bool IsMailFailure(const std::string& text);

// Deletes an entry's picture (the log line stays: the history shows it as gone). Only names the
// program gives its pictures are deleted.
bool DeletePicture(const Entry& entry);

}  // namespace qv::history
