// Starts the real program with the demo camera on an X server (xvfb-run) and grabs the
// screen: the skin, the live preview and the Japanese status text must be there. Regions are
// compared, not the whole picture. Without an X display the test is skipped (exit 77).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <cmath>
#include <cstdlib>

#include "app/window/Skin.h"
#include "tests/support/TestSupport.h"

using namespace qv::window;

namespace {

const QPoint kAt(20, 30);  // where the settings file puts the window

// Mean absolute difference per channel between a screen region and a picture.
double Difference(const QImage& screen, QPoint at, const QImage& picture) {
    const QImage a = screen.copy(QRect(at, picture.size())).convertToFormat(QImage::Format_RGB32);
    const QImage b = picture.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int y = 0; y < b.height(); ++y) {
        for (int x = 0; x < b.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q));
        }
    }
    return sum / (3.0 * b.width() * b.height());
}

QImage Grab() {
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(
        QImage::Format_RGB32);
}

}  // namespace

TEST(WindowXvfb, RealProgramShowsSkinPreviewAndJapaneseText) {
    Skin skin;
    ASSERT_TRUE(skin.Load({std::string(QUORVEX_SOURCE_ASSETS) + "/"}));
    qvtest::TempDir home;
    qvtest::WriteFile(home.File("Quorvex.ini"), "[Window]\r\nMainLeft=20\r\nMainTop=30\r\n");
    qvtest::ChildProcess program({QUORVEX_PROGRAM, "--home", home.Path(), "--demo-camera"},
                                 home.File("program.log"));
    ASSERT_TRUE(program.Running());

    // Wait until the skin is on screen.
    QImage screen;
    bool shown = false;
    for (int i = 0; i < 150 && !shown; ++i) {
        QThread::msleep(100);
        screen = Grab();
        shown = Difference(screen, kAt + QPoint(5, 25), skin.Bitmap(Logo)) < 4.0;
    }
    ASSERT_TRUE(shown) << qvtest::ReadFile(home.File("program.log"));
    QThread::msleep(2000);  // a few preview frames and ticks
    screen = Grab();
    screen.save(QString::fromStdString(home.File("screen.png")));

    // The skin: frame, panels and switches (stopped, preview on) where they belong.
    for (auto [at, bitmap] : {std::pair{QPoint(627, 3), Btn21},
                              {QPoint(135, 395), SetCOff},
                              {QPoint(31, 382), Mosw1On},
                              {QPoint(31, 414), Mosw2Off},
                              {QPoint(27, 294), SwOff},
                              {QPoint(134, 294), SwOn}})
        EXPECT_LT(Difference(screen, kAt + at, skin.Bitmap(bitmap)), 4.0) << bitmap;

    // The live preview: a picture, not the empty window colour, and it moves.
    const QRect preview(kAt + QPoint(325, 25), QSize(320, 240));
    QImage emptyArea(preview.size(), QImage::Format_RGB32);
    emptyArea.fill(QColor(215, 246, 255));
    EXPECT_GT(Difference(screen, preview.topLeft(), emptyArea), 20.0);
    QImage first = screen.copy(preview);
    bool moving = false;
    for (int i = 0; i < 30 && !moving; ++i) {
        QThread::msleep(200);
        moving = Grab().copy(preview) != first;
    }
    EXPECT_TRUE(moving) << "the preview did not change";

    // The Japanese status text, drawn as the skin font draws "動体検知：".
    QImage expected = skin.Bitmap(BaseState).copy();
    {
        QPainter p(&expected);
        p.setFont(SkinFont(QGuiApplication::primaryScreen()->logicalDotsPerInchY()));
        p.setPen(Qt::white);
        p.drawText(QRect(20, 51, 130, 18), Qt::AlignLeft | Qt::AlignTop,
                   QStringLiteral("動体検知："));
    }
    const QImage label = expected.copy(QRect(20, 51, 80, 18));
    EXPECT_LT(Difference(screen, kAt + QPoint(25, 196), label), 12.0);
    const QImage plain = skin.Bitmap(BaseState).copy(QRect(20, 51, 80, 18));
    EXPECT_GT(Difference(screen, kAt + QPoint(25, 196), plain), 15.0);

    // SIGTERM starts the orderly shutdown (a few ticks); it ends by itself, well before a kill.
    const int status = program.Stop(15000);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << status << "\n"
        << qvtest::ReadFile(home.File("program.log"));
    // Shutdown step 1 wrote the window's place.
    EXPECT_NE(qvtest::ReadFile(home.File("Quorvex.ini")).find("MainLeft=20"), std::string::npos);
}

int main(int argc, char** argv) {
    if (std::getenv("DISPLAY") == nullptr || *std::getenv("DISPLAY") == '\0') {
        std::printf("skipped: no X display (run under xvfb-run; Debian package xvfb)\n");
        return 77;
    }
    qunsetenv("QT_QPA_PLATFORM");
    // The program checks the news at start: never the real service from a test.
    ::setenv("QUORVEX_NEWS_URL", "http://127.0.0.1:1/infobbs/", 1);
    // Under LeakSanitizer the program must not fail for what D-Bus keeps at exit.
    const std::string suppressions =
        std::string("suppressions=") + QUORVEX_TEST_DIR + "/lsan.supp:print_suppressions=0";
    ::setenv("LSAN_OPTIONS", suppressions.c_str(), 0);
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
