// Reaching the owner beyond mail: a command run without a shell, a webhook (JSON, optionally
// with the picture) and a push to an ntfy topic. Events go to a background thread, so neither
// the engine nor shutdown ever waits for a slow command or server; a failure is reported once
// with its reason and never retried.
#pragma once

#include <condition_variable>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace qv::hooks {

struct Settings {
    std::string Command;        // program and arguments; %e %t %m %f are replaced
    std::string CommandEvents;  // comma-separated events for the command
    std::string WebhookUrl;
    int WebhookPicture = 0;  // 1: the picture goes along as a multipart part
    std::string PushUrl;     // an ntfy topic URL
    std::string PushToken;   // sent as a bearer token
};

struct Event {
    // warning, camera-lost, camera-back, disk; detect reaches only the command, when listed
    std::string Name;
    std::time_t Time = 0;
    int Mode = 1;         // 1..3
    std::string Picture;  // full path, or empty
    int Level = -1;       // the motion level, -1 when none
    std::string Detail;   // the camera's name, the reason a picture was not saved, ...
};

// Words of a command line: split on blanks, "double quotes" keep blanks, \" is a quote.
std::vector<std::string> SplitCommand(std::string_view line);
// The placeholders of each word replaced for this event.
std::vector<std::string> ExpandCommand(const std::vector<std::string>& words, const Event& e);
bool CommandWants(const Settings& s, std::string_view event);
std::string IsoTime(std::time_t t);
std::string WebhookJson(const Event& e);

// Time allowed to each command and each request.
inline constexpr int kTimeoutSeconds = 30;

class Dispatcher {
  public:
    // report gets one line per failure (and nothing on success); called on the hook thread.
    explicit Dispatcher(std::function<void(const std::string&)> report);
    // Any thread but the hook thread. Cuts what runs short (the command is killed, the request
    // cancelled) and drops what waits.
    ~Dispatcher();

    // Thread-safe.
    void Configure(Settings settings);
    // Thread-safe; returns at once. Each configured channel that carries the event gets it.
    void Send(Event event);
    // Thread-safe. Waits until everything sent so far has been delivered (for tests and
    // benchmarks of the whole path).
    void Drain();

  private:
    void Run();
    void Deliver(const Settings& s, const Event& e);
    bool RunCommand(const std::vector<std::string>& argv, std::string& error);
    bool Stopping();

    std::function<void(const std::string&)> report_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Event> queue_;
    Settings settings_;
    bool stop_ = false;
    bool busy_ = false;
    int stopFd_ = -1;  // an eventfd that wakes a command's wait at shutdown
    std::thread thread_;
};

}  // namespace qv::hooks
