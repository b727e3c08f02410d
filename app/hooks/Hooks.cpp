#include "app/hooks/Hooks.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "app/mail/Base64.h"
#include "platform/file/Owners.h"
#include "platform/http/HttpClient.h"
#include "platform/text/JsonString.h"

extern char** environ;

namespace qv::hooks {

namespace {

using text::JsonString;

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Titles in the user's language; headers carry them as RFC 2047 words, which ntfy decodes.
const char* PushTitle(const std::string& event) {
    if (event == "warning") return "警告！！";
    if (event == "camera-lost") return "カメラ切断";
    if (event == "camera-back") return "カメラ復旧";
    if (event == "disk") return "写真を保存できません";
    return "動体検知";
}

std::string EncodedWord(const std::string& utf8) {
    return "=?UTF-8?B?" + Base64EncodeText(utf8) + "?=";
}

}  // namespace

std::vector<std::string> SplitCommand(std::string_view line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\')) {
            word += line[++i];
            inWord = true;
        } else if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inWord) words.push_back(std::move(word));
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(std::move(word));
    return words;
}

std::string IsoTime(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &tm);
    std::string s = text;  // +0900 -> +09:00
    if (s.size() > 2) s.insert(s.size() - 2, ":");
    return s;
}

std::vector<std::string> ExpandCommand(const std::vector<std::string>& words, const Event& e) {
    std::vector<std::string> out;
    for (const std::string& w : words) {
        std::string x;
        for (size_t i = 0; i < w.size(); ++i) {
            if (w[i] != '%' || i + 1 == w.size()) {
                x += w[i];
                continue;
            }
            switch (w[++i]) {
                case 'e':
                    x += e.Name;
                    break;
                case 't':
                    x += IsoTime(e.Time);
                    break;
                case 'm':
                    x += std::to_string(e.Mode);
                    break;
                case 'f':
                    x += e.Picture;
                    break;
                case '%':
                    x += '%';
                    break;
                default:
                    x += '%', x += w[i];
            }
        }
        out.push_back(std::move(x));
    }
    return out;
}

bool CommandWants(const Settings& s, std::string_view event) {
    const std::string& list = s.CommandEvents;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string::npos) end = list.size();
        std::string_view item(list.data() + start, end - start);
        while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
        if (item == event) return true;
        start = end + 1;
    }
    return false;
}

std::string WebhookJson(const Event& e) {
    return "{\"event\":" + JsonString(e.Name) + ",\"time\":" + JsonString(IsoTime(e.Time)) +
           ",\"mode\":" + std::to_string(e.Mode) + ",\"picture\":" +
           (e.Picture.empty() ? std::string("null") : JsonString(BaseName(e.Picture))) +
           ",\"level\":" + (e.Level < 0 ? std::string("null") : std::to_string(e.Level)) + "}";
}

Dispatcher::Dispatcher(std::function<void(const std::string&)> report)
    : report_(std::move(report)), stopFd_(::eventfd(0, EFD_CLOEXEC)) {
    thread_ = std::thread([this] { Run(); });
}

Dispatcher::~Dispatcher() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        queue_.clear();
    }
    changed_.notify_all();
    const uint64_t one = 1;
    if (stopFd_ >= 0 && ::write(stopFd_, &one, sizeof one) < 0) std::perror("eventfd");
    thread_.join();
    if (stopFd_ >= 0) ::close(stopFd_);
}

void Dispatcher::Configure(Settings settings) {
    std::lock_guard<std::mutex> lock(mutex_);
    settings_ = std::move(settings);
}

void Dispatcher::Send(Event event) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stop_) return;
        queue_.push_back(std::move(event));
    }
    changed_.notify_all();
}

void Dispatcher::Drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return stop_ || (queue_.empty() && !busy_); });
}

bool Dispatcher::Stopping() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stop_;
}

void Dispatcher::Run() {
    for (;;) {
        Event event;
        Settings settings;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            busy_ = false;
            changed_.notify_all();
            changed_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (stop_) return;
            event = std::move(queue_.front());
            queue_.pop_front();
            settings = settings_;
            busy_ = true;
        }
        Deliver(settings, event);
    }
}

void Dispatcher::Deliver(const Settings& s, const Event& e) {
    auto fail = [&](const char* channel, const std::string& why) {
        if (!Stopping()) report_(std::string("hook ") + channel + " " + e.Name + ": " + why);
    };
    const bool everyChannel = e.Name != "detect";
    if (!s.Command.empty() && CommandWants(s, e.Name)) {
        std::string why;
        if (!RunCommand(ExpandCommand(SplitCommand(s.Command), e), why)) fail("command", why);
    }
    auto cancelled = [this] { return Stopping(); };
    if (everyChannel && !s.WebhookUrl.empty()) {
        http::Request r;
        r.Url = s.WebhookUrl;
        r.TimeoutSeconds = kTimeoutSeconds;
        r.Cancelled = cancelled;
        const std::string json = WebhookJson(e);
        if (s.WebhookPicture == 1 && !e.Picture.empty()) {
            r.Parts.push_back({"event", "", "application/json", json, ""});
            r.Parts.push_back({"picture", BaseName(e.Picture), "image/jpeg", "", e.Picture});
        } else {
            r.Headers.push_back("Content-Type: application/json");
            r.Body = json;
        }
        http::Response answer = http::Send(r);
        if (!answer.Ok) fail("webhook", answer.Error);
    }
    if (everyChannel && !s.PushUrl.empty()) {
        http::Request r;
        r.Url = s.PushUrl;
        r.TimeoutSeconds = kTimeoutSeconds;
        r.Cancelled = cancelled;
        r.Headers.push_back("Title: " + EncodedWord(PushTitle(e.Name)));
        r.Headers.push_back(std::string("Priority: ") + (e.Name == "warning" ? "high" : "default"));
        r.Headers.push_back("Tags: " + e.Name);
        std::string message = IsoTime(e.Time) + " mode " + std::to_string(e.Mode);
        if (!e.Detail.empty()) message += " " + e.Detail;
        if (!s.PushToken.empty()) r.Headers.push_back("Authorization: Bearer " + s.PushToken);
        if (!e.Picture.empty()) {
            // The picture is the body; the text goes in a header.
            r.Method = "PUT";
            r.BodyFile = e.Picture;
            r.Headers.push_back("Filename: " + BaseName(e.Picture));
            r.Headers.push_back("Message: " + EncodedWord(message));
        } else {
            r.Body = message;
        }
        http::Response answer = http::Send(r);
        if (!answer.Ok) fail("push", answer.Error);
    }
}

bool Dispatcher::RunCommand(const std::vector<std::string>& argv, std::string& error) {
    if (argv.empty()) return true;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        error = "cannot run " + argv[0] + ": " + std::strerror(rc);
        return false;
    }
    UniqueFd pidFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    pollfd fds[2] = {{pidFd.get(), POLLIN, 0}, {stopFd_, POLLIN, 0}};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kTimeoutSeconds);
    bool exited = false;
    while (!exited) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !pidFd) break;
        const int n = ::poll(fds, 2, static_cast<int>(left.count()));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || (fds[1].revents & POLLIN)) break;
        exited = fds[0].revents & POLLIN;
    }
    if (!exited) ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!exited) {
        error = Stopping() ? "cut short at exit" : "timed out after 30 s";
        return false;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    error = WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                              : "killed by signal " + std::to_string(WTERMSIG(status));
    return false;
}

}  // namespace qv::hooks
