#include "app/hooks/Hooks.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <mutex>

#include "tests/support/TestSupport.h"
#include "tests/support/http/HttpRecorder.h"

namespace {

using namespace qv::hooks;
using qvtest::HttpRecorder;
using qvtest::TempDir;

Event Warning(const std::string& picture = "") {
    Event e;
    e.Name = "warning";
    e.Time = 1'800'000'000;
    e.Mode = 2;
    e.Picture = picture;
    e.Level = 4321;
    return e;
}

TEST(Hooks, CommandWordsAndPlaceholders) {
    struct {
        const char* line;
        std::vector<std::string> words;
    } cases[] = {
        {"notify-send  Quorvex %e", {"notify-send", "Quorvex", "warning"}},
        {"/x/y \"a b\" %m%% \\\"q\\\"", {"/x/y", "a b", "2%", "\"q\""}},
        {"cmd --file=%f %z", {"cmd", "--file=/p/d.jpg", "%z"}},
        {"", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ExpandCommand(SplitCommand(c.line), Warning("/p/d.jpg")), c.words) << c.line;
    Settings s;
    s.CommandEvents = "warning, detect";
    EXPECT_TRUE(CommandWants(s, "detect"));
    EXPECT_FALSE(CommandWants(s, "disk"));
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    EXPECT_EQ(WebhookJson(Warning()),
              R"({"event":"warning","time":"2027-01-15T17:00:00+09:00","mode":2,)"
              R"("picture":null,"level":4321})");
    unsetenv("TZ");
    tzset();
}

struct Reports {
    std::mutex mutex;
    std::vector<std::string> lines;
    std::function<void(const std::string&)> Sink() {
        return [this](const std::string& l) {
            std::lock_guard<std::mutex> lock(mutex);
            lines.push_back(l);
        };
    }
};

TEST(Hooks, CommandRunsWithoutShellAndIsKilledAtExit) {
    TempDir dir;
    Reports reports;
    {
        Dispatcher d(reports.Sink());
        Settings s;
        // sh here is the user's program; the placeholders reach it as single arguments.
        s.Command = "sh -c \"printf '%s|' \\\"$@\\\" > " + dir.File("out") + "\" sh %e %m %f";
        s.CommandEvents = "warning";
        d.Configure(s);
        d.Send(Warning("/pics/a b.jpg"));
        d.Drain();
        EXPECT_EQ(qvtest::ReadFile(dir.File("out")), "warning|2|/pics/a b.jpg|");

        s.Command = "sh -c \"echo $$ > " + dir.File("pid") + "; exec sleep 60\"";
        d.Configure(s);
        d.Send(Warning());
        while (qvtest::ReadFile(dir.File("pid")).empty()) usleep(10'000);
    }  // shutdown does not wait the minute out
    const pid_t pid = std::stoi(qvtest::ReadFile(dir.File("pid")));
    EXPECT_EQ(::kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
    EXPECT_TRUE(reports.lines.empty());  // cut short at exit is not a failure to report
}

// Webhook and push against a real server; then failures, each reported once with its reason and
// never retried.
TEST(Hooks, WebhookAndPushReachARealServerAndFailuresAreReportedOnce) {
    HttpRecorder server;
    ASSERT_TRUE(server.Started()) << server.SkipReason();
    server.SetReply("POST", "/hook", "ok", "text/plain");
    server.SetReply("PUT", "", "{}", "application/json");
    server.SetReply("POST", "/quorvex-room", "{}", "application/json");
    TempDir dir;
    const std::string jpeg("\xff\xd8\xff\xe0 picture bytes \xff\xd9", 20);
    qvtest::WriteFile(dir.File("d2026120700000000.jpg"), jpeg);
    Reports reports;
    Dispatcher d(reports.Sink());
    Settings s;
    s.WebhookUrl = server.BaseUrl() + "/hook";
    s.WebhookPicture = 1;
    s.PushUrl = server.BaseUrl() + "/quorvex-room";
    s.PushToken = "tk_secret";
    d.Configure(s);
    d.Send(Warning(dir.File("d2026120700000000.jpg")));
    Event lost;
    lost.Name = "camera-lost";
    lost.Detail = "Quorvex Demo Camera";
    d.Send(lost);
    d.Drain();
    auto got = server.Requests();
    ASSERT_EQ(got.size(), 4u);
    // The warning: multipart JSON + picture, then a push with the picture as the body.
    EXPECT_EQ(got[0].RequestLine, "POST /hook HTTP/1.1");
    EXPECT_NE(got[0].Body.find("\"event\":\"warning\""), std::string::npos);
    EXPECT_NE(got[0].Body.find("\"picture\":\"d2026120700000000.jpg\""), std::string::npos);
    EXPECT_NE(got[0].Body.find(jpeg), std::string::npos);
    EXPECT_EQ(got[1].RequestLine, "PUT /quorvex-room HTTP/1.1");
    EXPECT_EQ(got[1].Body, jpeg);
    EXPECT_EQ(got[1].Header("Priority"), "high");
    EXPECT_EQ(got[1].Header("Authorization"), "Bearer tk_secret");
    EXPECT_EQ(got[1].Header("Title"), "=?UTF-8?B?6K2m5ZGK77yB77yB?=");  // 警告！！
    // The lost camera: plain JSON, and a text push at the default priority.
    EXPECT_EQ(got[2].Header("Content-Type"), "application/json");
    EXPECT_NE(got[2].Body.find("\"picture\":null"), std::string::npos);
    EXPECT_EQ(got[3].RequestLine, "POST /quorvex-room HTTP/1.1");
    EXPECT_EQ(got[3].Header("Priority"), "default");
    EXPECT_NE(got[3].Body.find("Quorvex Demo Camera"), std::string::npos);
    EXPECT_TRUE(reports.lines.empty());

    s.WebhookUrl = server.BaseUrl() + "/missing";                                 // 404
    s.PushUrl = "http://127.0.0.1:" + std::to_string(qvtest::FreePort()) + "/t";  // refused
    s.Command = "/nonexistent/program %e";
    s.CommandEvents = "warning";
    d.Configure(s);
    d.Send(Warning());
    d.Drain();
    ASSERT_EQ(reports.lines.size(), 3u);
    EXPECT_NE(reports.lines[0].find("hook command warning: cannot run"), std::string::npos);
    EXPECT_EQ(reports.lines[1], "hook webhook warning: the server answered 404");
    EXPECT_NE(reports.lines[2].find("hook push warning:"), std::string::npos);
    EXPECT_EQ(server.Requests().size(), 5u);  // no retry
}

}  // namespace
