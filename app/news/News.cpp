#include "app/news/News.h"

#include <pwd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextDocument>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>

#include "core/include/QuorCore.h"
#include "platform/registry/Registry.h"
#include "platform/thread/Handoff.h"

namespace qv::news {
namespace {

constexpr int kMaxImages = 32;

// The news board's background jobs: joined when the application object goes, as the program
// ends (a window closed meanwhile only drops the job's result).
thread::Handoff& Jobs() {
    struct Holder : QObject {
        Holder() : QObject(QCoreApplication::instance()), jobs(this) {}
        thread::Handoff jobs;
    };
    static QPointer<Holder> holder;
    if (!holder) holder = new Holder;
    return holder->jobs;
}

// Any thread: the page's thread and the window thread.
QString DecodeHtml(const std::string& bytes, const std::string& contentType) {
    const QByteArray data = QByteArray::fromStdString(bytes);
    const QRegularExpression charsetRe(QStringLiteral("charset\\s*=\\s*\"?([A-Za-z0-9_.:-]+)"),
                                       QRegularExpression::CaseInsensitiveOption);
    const auto m = charsetRe.match(QString::fromStdString(contentType));
    if (m.hasMatch()) {
        QStringDecoder decoder(m.captured(1).toLatin1().constData());
        if (decoder.isValid()) return decoder.decode(data);
    }
    QStringDecoder decoder = QStringDecoder::decoderForHtml(data);
    if (decoder.isValid()) return decoder.decode(data);
    return QString::fromUtf8(data);
}

// The pictures the browser will draw, in page order: the HTML as Qt's own text document reads
// it, so text inside <script>, <style> or comments asks for nothing.
// Any thread: the document is a private one that loads nothing.
std::vector<QString> ShownImages(const QString& html) {
    QTextDocument document;
    document.setHtml(html);
    std::vector<QString> out;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isImageFormat()) out.push_back(format.toImageFormat().name());
        }
    }
    return out;
}

}  // namespace

std::string NewsBaseUrl() {
    const char* env = std::getenv("QUORVEX_NEWS_URL");
    return env && *env ? env : kNewsBaseUrl;
}

int ParseNoticeNumber(const char* body) {
    if (!body) return 0;
    while (*body == ' ' || *body == '\t' || *body == '\r' || *body == '\n') ++body;
    long long n = 0;
    for (; *body >= '0' && *body <= '9'; ++body) {
        n = n * 10 + (*body - '0');
        if (n > INT_MAX) return INT_MAX;
    }
    return static_cast<int>(n);
}

int ReadShownNumber() {
    char text[64];
    if (!QvRegGetValue(QV_REG_PRODUCT_KEY, QV_REG_VALUE_INFO_NO, text, sizeof text)) return 0;
    return ParseNoticeNumber(text);
}

bool StoreShownNumber(int number) {
    return QvRegSetValue(QV_REG_PRODUCT_KEY, QV_REG_VALUE_INFO_NO, std::to_string(number).c_str());
}

QString UserName() {
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found) {
        // The full name is the first comma-separated field of the comment.
        std::string gecos = found->pw_gecos ? found->pw_gecos : "";
        gecos = gecos.substr(0, gecos.find(','));
        if (!gecos.empty()) return QString::fromUtf8(gecos);
        if (found->pw_name && *found->pw_name) return QString::fromUtf8(found->pw_name);
    }
    const char* login = std::getenv("USER");
    return QString::fromUtf8(login ? login : "");
}

QString Greeting(const QString& userName) {
    return QStringLiteral("%1 様へ Kelvarからお知らせです。").arg(userName);
}

QUrl NoticePageUrl(const std::string& baseUrl, int shownNumber) {
    return QUrl(QString::fromStdString(baseUrl) + QLatin1String(kNewsScript) +
                QStringLiteral("?mode=getmsgs&mno=%1").arg(shownNumber));
}

void RunInBackground(std::function<void()> work, std::function<void()> done, QObject* receiver) {
    Jobs().RunInBackground(std::move(work), [done = std::move(done), guard = QPointer(receiver)] {
        if (guard) done();
    });
}

// One GET through the core library; the block goes back through its release.
struct GetReply {
    bool Ok = false;
    long Status = 0;
    std::string Body;
    std::string ContentType;
};

GetReply Get(const std::string& url) {
    GetReply reply;
    unsigned long length = 0;
    char type[256];
    char* block = QvGetHttpUrl(kNewsAgent, url.c_str(), &reply.Status, &length, type, sizeof type);
    if (block == nullptr) return reply;
    reply.Ok = true;
    reply.Body.assign(block, length);
    reply.ContentType = type;
    QvReleaseHttpUrlData(block);
    return reply;
}

FetchedBytes FetchPage(const std::string& url) {
    FetchedBytes page;
    page.Url = url;
    auto reply = Get(url);
    if (!reply.Ok) return page;
    page.Ok = true;
    page.Body = std::move(reply.Body);
    page.ContentType = std::move(reply.ContentType);
    const QUrl base(QString::fromStdString(url));
    std::set<std::string> seen;
    for (const QString& source : ShownImages(DecodeHtml(page.Body, page.ContentType))) {
        if (static_cast<int>(seen.size()) >= kMaxImages) break;
        const QUrl imageUrl = base.resolved(QUrl(source));
        const std::string image = imageUrl.toString(QUrl::FullyEncoded).toStdString();
        if (imageUrl.scheme() != QLatin1String("http") || !seen.insert(image).second) continue;
        auto got = Get(image);
        if (got.Ok && got.Status == 200) page.Images.emplace_back(image, std::move(got.Body));
    }
    return page;
}

FetchedPage DecodePage(const FetchedBytes& bytes) {
    FetchedPage page;
    page.Url = QUrl(QString::fromStdString(bytes.Url));
    page.Ok = bytes.Ok;
    if (!bytes.Ok) return page;
    page.Html = DecodeHtml(bytes.Body, bytes.ContentType);
    for (const auto& [url, data] : bytes.Images) {
        QImage image;
        if (image.loadFromData(QByteArray::fromStdString(data)))
            page.Images.insert(QUrl(QString::fromStdString(url)), image);
    }
    return page;
}

void NewsBrowser::ShowPage(const FetchedPage& page) {
    base_ = page.Url;
    images_ = page.Images;
    document()->setBaseUrl(page.Url);
    setHtml(page.Html);
}

QVariant NewsBrowser::loadResource(int type, const QUrl& name) {
    if (type == QTextDocument::ImageResource) {
        const auto it = images_.constFind(base_.resolved(name));
        if (it != images_.constEnd()) return *it;
        return {};
    }
    // Pages come only through ShowPage; nothing is fetched on the window thread.
    if (name.scheme() == QLatin1String("http") || base_.scheme() == QLatin1String("http"))
        return {};
    return QTextBrowser::loadResource(type, name);
}

NewsWindow::NewsWindow(int shownNumber, const std::string& baseUrl) : QDialog(nullptr) {
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("最新情報ﾀﾞｲｱﾛｸﾞ"));
    // Dialog units: a quarter of the average character width, an eighth of the height.
    const QFontMetrics fm(font());
    const int bx = std::max(fm.averageCharWidth(), 5), by = std::max(fm.height(), 12);
    auto du = [&](int x, int y, int w, int h) {
        return QRect(x * bx / 4, y * by / 8, w * bx / 4, h * by / 8);
    };
    setFixedSize(du(0, 0, 314, 185).size());

    browser_ = new NewsBrowser(this);
    browser_->setObjectName(QStringLiteral("newsBrowser"));
    browser_->setGeometry(du(5, 5, 271, 166));
    browser_->setOpenLinks(false);
    connect(browser_, &QTextBrowser::anchorClicked, this,
            [this](const QUrl& url) { Navigate(browser_->document()->baseUrl().resolved(url)); });

    auto* close = new QPushButton(QStringLiteral("閉じる"), this);
    close->setObjectName(QStringLiteral("closeButton"));
    close->setGeometry(du(281, 5, 29, 14));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto* cancel = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setGeometry(du(281, 24, 29, 14));
    cancel->hide();
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* caption = new QLabel(QStringLiteral("- TavorinSekuvo -"), this);
    caption->setAlignment(Qt::AlignCenter);
    caption->setGeometry(du(104, 174, 76, 8));

    // Close box, close button and Escape all end the window for good.
    connect(this, &QDialog::finished, this, &QObject::deleteLater);
    Navigate(NoticePageUrl(baseUrl, shownNumber));
}

void NewsWindow::Navigate(const QUrl& url) {
    if (url.scheme() != QLatin1String("http")) return;
    auto fetched = std::make_shared<FetchedBytes>();
    RunInBackground(
        [fetched, target = url.toString(QUrl::FullyEncoded).toStdString()] {
            *fetched = FetchPage(target);
        },
        [this, fetched] {
            const FetchedPage page = DecodePage(*fetched);
            browser_->ShowPage(page);
            emit PageShown(page.Ok);
        },
        this);
}

NewsCheck* StartNewsCheck(QWidget* parent, const std::string& baseUrl) {
    struct Answer {
        int Shown = 0;
        int Latest = 0;
    };
    auto* check = new NewsCheck(QCoreApplication::instance());
    auto answer = std::make_shared<Answer>();
    const bool hadParent = parent != nullptr;
    QPointer<QWidget> parentRef(parent);
    RunInBackground(
        [answer, baseUrl] {
            answer->Shown = ReadShownNumber();
            char* reply = QvGetHttpUrlData(
                const_cast<char*>(kNewsAgent), const_cast<char*>(baseUrl.c_str()),
                const_cast<char*>(kNewsScript), const_cast<char*>("mode=getmsgno"));
            answer->Latest = reply ? ParseNoticeNumber(QvGetBodyText(reply)) : 0;
            QvReleaseHttpUrlData(reply);
            if (answer->Shown < answer->Latest) StoreShownNumber(answer->Latest);
        },
        [check, answer, baseUrl, hadParent, parentRef] {
            NewsWindow* window = nullptr;
            if (answer->Shown < answer->Latest && (!hadParent || parentRef)) {
                window = new NewsWindow(answer->Shown, baseUrl);
                window->setWindowTitle(Greeting(UserName()));
                if (QScreen* screen = QGuiApplication::primaryScreen())
                    window->move(screen->availableGeometry().center() - window->rect().center());
                window->show();
            }
            emit check->Finished(window != nullptr, window);
            check->deleteLater();
        },
        check);
    return check;
}

}  // namespace qv::news
