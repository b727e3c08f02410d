// The HTTP form post and GET against a recording server, and the body text of replies.
#include <gtest/gtest.h>

#include <string>

#include "core/include/QuorCore.h"
#include "core/src/Http.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/http/HttpRecorder.h"

namespace {

// Owns a reply block of the library.
struct Reply {
    explicit Reply(char* p) : text(p ? p : "(null)"), null(!p) { QvReleaseHttpUrlData(p); }
    std::string text;
    bool null;
};

std::string Body(std::string reply) {
    return QvGetBodyText(reply.data());
}

class HttpPost : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* v : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(v);
        if (!server.Started()) GTEST_SKIP() << server.SkipReason();
    }
    Reply Post(const std::string& url) {
        return Reply(
            QvGetHttpUrlData(const_cast<char*>("TavorinSekuvo"), const_cast<char*>(url.c_str()),
                             const_cast<char*>("infobbs.php"), const_cast<char*>("mode=getmsgno")));
    }
    qvtest::HttpRecorder server;
};

TEST_F(HttpPost, SendsTheFormAndReturnsTheWholeReplyUpToOneMebibyte) {
    std::string big;
    for (int i = 0; big.size() < 1536 * 1024; ++i) big += std::to_string(i) + ",";
    server.SetReply("POST", "/infobbs/infobbs.php", "<html>\n<body>\n42\n</body>\n</html>\n");
    server.SetReply("POST", "/huge/infobbs.php", big);
    const Reply r = Post(server.BaseUrl() + "/infobbs/");
    EXPECT_EQ(Body(r.text), "42\n");
    const auto q = server.Requests().at(0);
    EXPECT_EQ(q.RequestLine, "POST /infobbs/infobbs.php HTTP/1.0");
    EXPECT_EQ(q.Header("User-Agent"), "TavorinSekuvo");
    EXPECT_EQ(q.Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(q.Header("Content-Length"), "13");
    EXPECT_EQ(q.Header("Host"), "127.0.0.1:" + std::to_string(server.Port()));
    EXPECT_EQ(q.Body, "mode=getmsgno");  // no terminating zero
    EXPECT_EQ(Post(server.BaseUrl() + "/huge/").text, big.substr(0, qv::core::kHttpMaxReply));
    // Through the proxy the environment names.
    setenv("http_proxy", server.BaseUrl().c_str(), 1);
    Post("http://news.tavorinsekuvo.invalid:81/infobbs/");
    unsetenv("http_proxy");
    EXPECT_EQ(server.Requests().back().RequestLine,
              "POST http://news.tavorinsekuvo.invalid:81/infobbs/infobbs.php HTTP/1.0");
}

TEST_F(HttpPost, UnreachableOrSilentServersGiveTheEmptyText) {
    EXPECT_EQ(Post("http://127.0.0.1:" + std::to_string(qvtest::FreePort()) + "/x/").text, "");
    EXPECT_TRUE(Post("http://[::1").null);
    qvtest::ScriptedServer silent;  // accepts and never answers: the library's time-out ends it
    silent.Pause(qv::core::kHttpTimeoutSeconds * 1000 + 500).StepTimeout(100);
    ASSERT_TRUE(silent.Start());
    EXPECT_EQ(Post("http://127.0.0.1:" + std::to_string(silent.Port()) + "/x/").text, "");
}

// Pages with their type and request lines are the news test's; here what GET refuses.
TEST_F(HttpPost, GetGivesTheStatusAndRefusesWhatIsNotHttp) {
    EXPECT_EQ(qv::core::HttpGet(server.BaseUrl() + "/nothing", "a", 10).Status, 404);
    EXPECT_FALSE(
        qv::core::HttpGet("http://127.0.0.1:" + std::to_string(qvtest::FreePort()) + "/", "a", 10)
            .Ok);
    EXPECT_FALSE(qv::core::HttpGet("file:///etc/passwd", "a", 10).Ok);  // http only
}

TEST(HttpPostUrl, DefaultsToPort80AndAppendsTheScript) {
    using qv::core::HttpPostUrl;
    EXPECT_EQ(HttpPostUrl("http://news.example/infobbs/", "infobbs.php"),
              "http://news.example:80/infobbs/infobbs.php");
    EXPECT_EQ(HttpPostUrl("http://news.example:8080/infobbs/?x=1#f", "infobbs.php"),
              "http://news.example:8080/infobbs/infobbs.php");
    EXPECT_EQ(HttpPostUrl("news.example/a/", "b.php"), "http://news.example:80/a/b.php");
    // A script cannot add a second request line or header.
    EXPECT_EQ(HttpPostUrl("http://news.example/a/", "b.php HTTP/1.0\r\nX: y"), "");
    EXPECT_EQ(HttpPostUrl("http://[bad", "b.php"), "");
}

TEST(BodyText, BetweenTheMarkersUpperCasedInPlace) {
    const std::pair<const char*, const char*> cases[] = {
        {"<BODY>\nnews for you</BODY>", "NEWS FOR YOU"},
        {"<html><body>\r\n42\r\n</body></html>", ""},  // CR LF after the marker
        {"<body>\n42\n", ""},                          // no closing marker
        {"no markers at all", ""},
        {"</BODY><BODY>\n", ""},  // closing marker only before the opening one
        // 0x83 0x61 and 0x83 0x7A are katakana whose second bytes are 'a' and 'z'.
        {"<body>\n\x83\x61\x83\x7A"
         "ab</body>",
         "\x83\x61\x83\x7A"
         "AB"}};
    for (const auto& [reply, body] : cases) EXPECT_EQ(Body(reply), body) << reply;
    char text[] = "x<body>\nabc</body>y";
    EXPECT_EQ(QvGetBodyText(text), text);
    EXPECT_STREQ(text, "ABC");
    EXPECT_EQ(QvGetBodyText(nullptr), nullptr);
}

}  // namespace
