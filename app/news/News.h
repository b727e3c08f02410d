// The news board: at start-up the program asks the maker's news service for its latest
// notice number and, when it is above the number the user was last shown, opens the
// news window on the new notices.
#pragma once

#include <QDialog>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QTextBrowser>
#include <QUrl>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace qv::news {

// The service; QUORVEX_NEWS_URL replaces it (a base URL ending in "/").
inline constexpr char kNewsBaseUrl[] = "http://news.tavorinsekuvo.example/infobbs/";
inline constexpr char kNewsScript[] = "infobbs.php";
inline constexpr char kNewsAgent[] = "TavorinSekuvo";

// Any thread: reads the environment.
std::string NewsBaseUrl();

// The leading decimal digits of a reply body (after blanks); 0 when there are none.
// Any thread.
int ParseNoticeNumber(const char* body);

// "InfoNo" of the product key: the last notice number shown (0 when missing).
// The check's own thread (and tests); touches only the registry file.
int ReadShownNumber();
bool StoreShownNumber(int number);

// The full name of the login from the password database, else the login name.
QString UserName();
QString Greeting(const QString& userName);

// base URL + "infobbs.php?mode=getmsgs&mno=<shown>"
QUrl NoticePageUrl(const std::string& baseUrl, int shownNumber);

// A page and its pictures as fetched, still bytes: Qt objects stay on the thread that
// made them.
struct FetchedBytes {
    std::string Url;
    bool Ok = false;
    std::string Body;
    std::string ContentType;
    std::vector<std::pair<std::string, std::string>> Images;  // resolved URL, bytes
};

// Fetches a page and the pictures it shows through the program's HTTP code.
// Any thread; touches nothing shared.
FetchedBytes FetchPage(const std::string& url);

struct FetchedPage {
    QUrl Url;
    bool Ok = false;
    QString Html;
    QHash<QUrl, QImage> Images;  // by resolved URL
};

// Window thread: decodes what FetchPage brought.
FetchedPage DecodePage(const FetchedBytes& bytes);

// Window thread. Runs work on a thread of its own and then done on the window thread, unless
// receiver is gone by then. The threads are joined when the application object is destroyed.
void RunInBackground(std::function<void()> work, std::function<void()> done, QObject* receiver);

// A text browser that shows only what was fetched for it; it never blocks on the network.
class NewsBrowser : public QTextBrowser {
  public:
    using QTextBrowser::QTextBrowser;
    void ShowPage(const FetchedPage& page);

  protected:
    QVariant loadResource(int type, const QUrl& name) override;

  private:
    QUrl base_;
    QHash<QUrl, QImage> images_;
};

// The news window: a modeless top-level dialog that deletes itself when closed.
class NewsWindow : public QDialog {
    Q_OBJECT
  public:
    NewsWindow(int shownNumber, const std::string& baseUrl);
    NewsBrowser* Browser() const { return browser_; }

  signals:
    void PageShown(bool ok);

  private:
    void Navigate(const QUrl& url);

    NewsBrowser* browser_ = nullptr;
};

// One start-up check; emits Finished on the window thread and then deletes itself.
class NewsCheck : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;

  signals:
    // opened: the news window was shown (it is passed along, or null).
    void Finished(bool opened, qv::news::NewsWindow* window);
};

// Window thread. Runs the exchange on a pool thread and opens the news window on the
// window thread when the answer asks for it. A parent that is gone by then gets no
// window. The returned object may be ignored.
NewsCheck* StartNewsCheck(QWidget* parent, const std::string& baseUrl = NewsBaseUrl());

}  // namespace qv::news
