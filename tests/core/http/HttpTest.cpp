#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "core/include/QuorCore.h"
#include "core/src/Http.h"
#include "tests/core/http/HttpRecorder.h"

namespace {

// Owns a reply block of the library.
struct Reply {
    explicit Reply(char* p) : Ptr(p) {}
    ~Reply() { QvReleaseHttpUrlData(Ptr); }
    char* Ptr;
};

std::string Body(const std::string& reply) {
    std::string copy = reply;
    return QvGetBodyText(copy.data());
}

class HttpPost : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* v : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(v);
        if (!server.Started()) GTEST_SKIP() << server.SkipReason();
    }
    char* Post(const std::string& url, const char* form = "mode=getmsgno") {
        return QvGetHttpUrlData(const_cast<char*>("TavorinSekuvo"), const_cast<char*>(url.c_str()),
                                const_cast<char*>("infobbs.php"), const_cast<char*>(form));
    }
    qvtest::HttpRecorder server;
};

TEST_F(HttpPost, SendsTheFormToThePortAndPathTheUrlNames) {
    server.SetReply("POST", "", "<HTML><BODY>\n7\n</BODY></HTML>");
    Reply r(Post(server.BaseUrl() + "/infobbs/"));
    ASSERT_NE(r.Ptr, nullptr);
    EXPECT_STREQ(r.Ptr, "<HTML><BODY>\n7\n</BODY></HTML>");

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& q = requests[0];
    EXPECT_EQ(q.RequestLine, "POST /infobbs/infobbs.php HTTP/1.0");
    EXPECT_EQ(q.Header("User-Agent"), "TavorinSekuvo");
    EXPECT_EQ(q.Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(q.Header("Content-Length"), "13");
    EXPECT_EQ(q.Header("Pragma"), "no-cache");
    EXPECT_EQ(q.Header("Host"), "127.0.0.1:" + std::to_string(server.Port()));
    EXPECT_EQ(q.Body, "mode=getmsgno");  // no terminating zero
}

TEST_F(HttpPost, RepliesFromTheServerGiveTheirBodyText) {
    server.SetReply("POST", "/lower/infobbs.php", "<html>\n<body>\n42\n</body>\n</html>\n");
    server.SetReply("POST", "/crlf/infobbs.php",
                    "<HTML>\r\n<BODY>\r\n42\r\n</BODY>\r\n</HTML>\r\n");
    {
        Reply r(Post(server.BaseUrl() + "/lower/"));
        ASSERT_NE(r.Ptr, nullptr);
        EXPECT_STREQ(QvGetBodyText(r.Ptr), "42\n");
        EXPECT_EQ(std::atoi(r.Ptr), 42);
    }
    {
        Reply r(Post(server.BaseUrl() + "/crlf/"));
        ASSERT_NE(r.Ptr, nullptr);
        EXPECT_STREQ(QvGetBodyText(r.Ptr), "");
    }
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

TEST_F(HttpPost, ReturnsTheWholeReplyUpToOneMebibyte) {
    std::string big;
    for (int i = 0; big.size() < 1536 * 1024; ++i) big += std::to_string(i) + ",";
    server.SetReply("POST", "/long/infobbs.php", big.substr(0, 300 * 1024));
    server.SetReply("POST", "/huge/infobbs.php", big);
    {
        Reply r(Post(server.BaseUrl() + "/long/"));
        ASSERT_NE(r.Ptr, nullptr);
        EXPECT_EQ(std::string(r.Ptr), big.substr(0, 300 * 1024));
    }
    {
        Reply r(Post(server.BaseUrl() + "/huge/"));
        ASSERT_NE(r.Ptr, nullptr);
        EXPECT_EQ(std::string(r.Ptr), big.substr(0, qv::core::kHttpMaxReply));
    }
}

TEST_F(HttpPost, TakesTheProxyFromTheEnvironment) {
    server.SetReply("POST", "", "<BODY>\n3\n</BODY>");
    setenv("http_proxy", server.BaseUrl().c_str(), 1);
    Reply r(Post("http://news.tavorinsekuvo.invalid:81/infobbs/"));
    unsetenv("http_proxy");
    ASSERT_NE(r.Ptr, nullptr);
    EXPECT_EQ(Body(r.Ptr), "3\n");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].RequestLine,
              "POST http://news.tavorinsekuvo.invalid:81/infobbs/infobbs.php HTTP/1.0");
}

TEST_F(HttpPost, UnreachableServiceGivesTheEmptyText) {
    const int port = qvtest::FreePort();
    Reply r(Post("http://127.0.0.1:" + std::to_string(port) + "/infobbs/"));
    ASSERT_NE(r.Ptr, nullptr);
    EXPECT_STREQ(r.Ptr, "");
    EXPECT_STREQ(QvGetBodyText(r.Ptr), "");
    EXPECT_EQ(Post("http://[::1"), nullptr);
}

TEST_F(HttpPost, SilentServerTimesOut) {
    // Accepts connections (the kernel does) but never answers.
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    const auto start = std::chrono::steady_clock::now();
    Reply r(Post("http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/x/"));
    const auto waited = std::chrono::steady_clock::now() - start;
    ::close(fd);
    ASSERT_NE(r.Ptr, nullptr);
    EXPECT_STREQ(r.Ptr, "");
    EXPECT_LT(waited, std::chrono::seconds(20));
}

TEST_F(HttpPost, GetFetchesPagesWithTheirType) {
    server.SetReply("GET", "/infobbs/page.html", "<p>hello</p>", "text/html; charset=Shift_JIS");
    const auto page =
        qv::core::HttpGet(server.BaseUrl() + "/infobbs/page.html?mno=3", "TavorinSekuvo", 10);
    ASSERT_TRUE(page.Ok);
    EXPECT_EQ(page.Status, 200);
    EXPECT_EQ(page.Body, "<p>hello</p>");
    EXPECT_EQ(page.ContentType, "text/html; charset=Shift_JIS");
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].RequestLine, "GET /infobbs/page.html?mno=3 HTTP/1.1");
    EXPECT_EQ(requests[0].Header("User-Agent"), "TavorinSekuvo");

    const auto missing = qv::core::HttpGet(server.BaseUrl() + "/nothing", "a", 10);
    EXPECT_TRUE(missing.Ok);
    EXPECT_EQ(missing.Status, 404);
    EXPECT_FALSE(
        qv::core::HttpGet("http://127.0.0.1:" + std::to_string(qvtest::FreePort()) + "/", "a", 10)
            .Ok);
    EXPECT_FALSE(qv::core::HttpGet("file:///etc/passwd", "a", 10).Ok);  // http only
}

TEST(BodyText, FindsMarkersInAnyCaseAndUpperCasesTheBody) {
    std::string lower = "<html><body>\n42\n</body></html>";
    EXPECT_EQ(Body(lower), "42\n");
    EXPECT_EQ(std::atoi(Body(lower).c_str()), 42);
    EXPECT_EQ(Body("<BODY>\nnews for you</BODY>"), "NEWS FOR YOU");
}

TEST(BodyText, MalformedBodiesGiveTheEmptyText) {
    EXPECT_EQ(Body("<html><body>\r\n42\r\n</body></html>"), "");  // CR LF after the marker
    EXPECT_EQ(Body("<body>\n42\n"), "");                          // no closing marker
    EXPECT_EQ(Body("no markers at all"), "");
    EXPECT_EQ(Body(""), "");
    EXPECT_EQ(Body("</BODY><BODY>\n"), "");  // closing marker only before the opening one
    EXPECT_EQ(QvGetBodyText(nullptr), nullptr);
}

TEST(BodyText, LeavesShiftJisPairsAlone) {
    // 0x83 0x61 and 0x83 0x7A are katakana whose second bytes are 'a' and 'z'.
    const std::string sjis =
        "\x83\x61\x83\x7A"
        "ab";
    EXPECT_EQ(Body("<body>\n" + sjis + "</body>"),
              "\x83\x61\x83\x7A"
              "AB");
}

TEST(BodyText, RewritesTheBlockInPlace) {
    char text[] = "x<body>\nabc</body>y";
    char* result = QvGetBodyText(text);
    EXPECT_EQ(result, text);
    EXPECT_STREQ(text, "ABC");
}

}  // namespace
