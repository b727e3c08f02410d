// The news board against a recording HTTP server on loopback: the start-up check, the window
// and what it fetches.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include "app/news/News.h"
#include "platform/registry/Registry.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/http/HttpRecorder.h"

namespace {

using qv::news::NewsCheck;
using qv::news::NewsWindow;

std::string StoredNumber() {
    char text[64];
    return QvRegGetValue(QV_REG_PRODUCT_KEY, "InfoNo", text, sizeof text) ? text : "<none>";
}

QList<NewsWindow*> OpenWindows() {
    QList<NewsWindow*> out;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* n = qobject_cast<NewsWindow*>(w)) out.push_back(n);
    return out;
}

class NewsBoard : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* v : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(v);
        setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
        if (!server.Started()) GTEST_SKIP() << server.SkipReason();
        base = server.BaseUrl() + "/infobbs/";
    }
    void TearDown() override {
        for (NewsWindow* w : OpenWindows()) delete w;
        unsetenv("XDG_CONFIG_HOME");
    }
    // Starts a check and waits for its end; returns the window it opened, if any.
    NewsWindow* Check(const std::string& url) {
        NewsCheck* check = qv::news::StartNewsCheck(nullptr, url);
        QSignalSpy spy(check, &NewsCheck::Finished);
        EXPECT_TRUE(spy.wait(15000));
        NewsWindow* window = spy.isEmpty() ? nullptr : spy[0][1].value<NewsWindow*>();
        EXPECT_EQ(!spy.isEmpty() && spy[0][0].toBool(), window != nullptr);
        return window;
    }
    std::vector<std::string> RequestLines() {
        std::vector<std::string> out;
        for (const auto& r : server.Requests()) out.push_back(r.RequestLine);
        return out;
    }

    qvtest::TempDir config;
    qvtest::HttpRecorder server;
    std::string base;
};

TEST_F(NewsBoard, NoNewNumberOpensNothing) {
    ASSERT_TRUE(QvRegSetValue(QV_REG_PRODUCT_KEY, "InfoNo", "5"));
    // The number already shown (what holds no number is 0: the number's own test).
    server.SetReply("POST", "/infobbs/infobbs.php", "<html><body>\n5\n</body></html>");
    EXPECT_EQ(Check(base), nullptr);
    EXPECT_TRUE(OpenWindows().isEmpty());
    EXPECT_EQ(StoredNumber(), "5");
    EXPECT_EQ(RequestLines(), std::vector<std::string>{"POST /infobbs/infobbs.php HTTP/1.0"});
}

TEST_F(NewsBoard, NewNoticesAreStoredAndShown) {
    QByteArray png;
    QBuffer buffer(&png);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly) &&
                QImage(1, 1, QImage::Format_RGB32).save(&buffer, "PNG"));
    server.SetReply("GET", "/infobbs/dot.png", png.toStdString(), "image/png");
    // clang-format off
    struct Case {
        const char* Stored;  // nullptr: the first start, nothing stored
        const char* Latest;
        std::string Page, Type, Shown, Text;
    } cases[] = {
        // "お知らせ" in Shift-JIS.
        {nullptr, "<BODY>\n1\n</BODY>", "<html><body>\x82\xa8\x92\x6d\x82\xe7\x82\xb9<img src=\"dot.png\">"
         "</body></html>", "text/html; charset=Shift_JIS", "0", "お知らせ"},
        // Only the picture the page shows is fetched, not what a script or a comment names.
        {"5", "<html><body>\n7\n</body></html>", "<html><head><script>var s = '<img src=\"script.png\">';"
         "</script></head><body><p>Notice number six</p><!-- <img src=\"comment.png\"> -->"
         "<img src=\"dot.png\"></body></html>", "text/html", "5", "Notice number six"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Latest);
        if (c.Stored) {
            ASSERT_TRUE(QvRegSetValue(QV_REG_PRODUCT_KEY, "InfoNo", c.Stored));
        }
        server.SetReply("POST", "/infobbs/infobbs.php", c.Latest);
        server.SetReply("GET", "/infobbs/infobbs.php", c.Page, c.Type);
        const size_t before = RequestLines().size();
        NewsWindow* window = Check(base);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(StoredNumber(), c.Stored ? "7" : "1");
        EXPECT_TRUE(window->isVisible());
        QSignalSpy shown(window, &NewsWindow::PageShown);
        ASSERT_TRUE(shown.wait(15000));
        EXPECT_TRUE(shown[0][0].toBool());
        EXPECT_TRUE(window->Browser()->toPlainText().contains(QString::fromStdString(c.Text)));
        const auto lines = RequestLines();
        EXPECT_EQ(std::vector<std::string>(lines.begin() + before, lines.end()),
                  (std::vector<std::string>{
                      "POST /infobbs/infobbs.php HTTP/1.0",
                      "GET /infobbs/infobbs.php?mode=getmsgs&mno=" + c.Shown + " HTTP/1.1",
                      "GET /infobbs/dot.png HTTP/1.1"}));
        const QVariant image = window->Browser()->document()->resource(
            QTextDocument::ImageResource, QUrl(QStringLiteral("dot.png")));
        EXPECT_EQ(image.value<QImage>().size(), QSize(1, 1));
        // Closing ends the window for good.
        QPointer<NewsWindow> guard(window);
        window->findChild<QPushButton*>(QStringLiteral("closeButton"))->click();
        EXPECT_TRUE(qvtest::WaitFor([&] { return guard.isNull(); }));
    }
}

TEST_F(NewsBoard, UnreachableServiceNeitherOpensNorDelays) {
    // A server that reads and never answers: the check stays pending while the window runs on.
    qvtest::ScriptedServer silent;
    ASSERT_TRUE(silent.StepTimeout(3000).Start());
    NewsCheck* check = qv::news::StartNewsCheck(
        nullptr, "http://127.0.0.1:" + std::to_string(silent.Port()) + "/infobbs/");
    QSignalSpy spy(check, &NewsCheck::Finished);
    bool ticked = false;
    QTimer::singleShot(50, [&] { ticked = true; });
    EXPECT_TRUE(qvtest::WaitFor([&] { return ticked; }, 2000));
    EXPECT_TRUE(spy.isEmpty());    // still waiting for the service, yet the loop ran
    ASSERT_TRUE(spy.wait(15000));  // ends when the server hangs up
    EXPECT_FALSE(spy[0][0].toBool());
    EXPECT_TRUE(QApplication::topLevelWidgets().isEmpty());  // no window, no message box
    EXPECT_EQ(StoredNumber(), "<none>");
}

TEST(NewsNumbers, LeadingDigitsOnly) {
    using qv::news::ParseNoticeNumber;
    const std::pair<const char*, int> cases[] = {
        {"42\n", 42}, {"7 NOTICES", 7},           {"", 0}, {"NEWS 3", 0}, {"-3", 0},
        {nullptr, 0}, {"99999999999999", INT_MAX}};
    for (auto [text, number] : cases) EXPECT_EQ(ParseNoticeNumber(text), number) << text;
}

}  // namespace
