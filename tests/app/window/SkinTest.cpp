// The skin painter on the real bitmaps of assets/img, drawn into an image and compared region by
// region with the pictures that belong there.
#include <gtest/gtest.h>

#include <QPainter>

#include "app/window/Skin.h"

using namespace qv::window;

namespace {

const std::vector<std::string> kAssets{std::string(QUORVEX_SOURCE_ASSETS) + "/"};

QImage Render(const SkinState& state, int dpi = 96) {
    static Skin skin;
    if (!skin.Loaded()) skin.Load(kAssets);
    QImage out(kWindowWidth, kWindowHeight, QImage::Format_RGB32);
    QPainter p(&out);
    DrawWindow(p, skin, state, SkinFont(dpi));
    return out;
}

bool RegionIs(const QImage& shot, QPoint at, const QImage& picture) {
    return shot.copy(QRect(at, picture.size())) == picture.convertToFormat(QImage::Format_RGB32);
}

}  // namespace

TEST(Skin, MissingFileIsNamed) {
    Skin skin;
    std::string failed;
    EXPECT_FALSE(skin.Load({"/nonexistent/"}, &failed));
    EXPECT_EQ(failed, "img/frm11.bmp");
    ASSERT_TRUE(skin.Load(kAssets, &failed)) << failed;
}

TEST(Skin, CautionPicturesAlternateAndAMissingOneLeavesTheArea) {
    const QImage c1 = LoadCautionPicture(kAssets, "", 1);
    const QImage c2 = LoadCautionPicture(kAssets, "no-such.bmp", 2);  // falls back to its own
    ASSERT_EQ(c1.size(), QSize(320, 240));
    ASSERT_NE(c1, c2);
    SkinState s;
    s.CautionShown = true;
    s.Caution1 = &c1;
    s.Caution2 = &c2;
    for (int ticks : {0, 1, 2, 3, 4, 5, 8}) {
        s.AlarmTicks = ticks;
        EXPECT_TRUE(RegionIs(Render(s), kLogArea.topLeft(), ticks % 4 ? c2 : c1)) << ticks;
    }
    const QImage none;
    s.Caution1 = s.Caution2 = &none;
    s.AlarmTicks = 0;
    EXPECT_TRUE(RegionIs(Render(s), kLogArea.topLeft(), Render({}).copy(kLogArea)));
}

// Every text line fits its place with the font it is drawn in, for the longest texts the window
// shows (a countdown of 120 minutes and more), on screens of 96 and 120 dots per inch.
TEST(Skin, TextLinesFitTheirPlaces) {
    SkinState s;
    s.TimerEnable = true;
    s.DeviceName = "USB2.0 Camera";
    s.DeviceLine = "\u3000\u3000\u3000\u3000\u30001920 × 1080 24ビット";
    s.Level = s.DetectCount = s.WarningCount = 9999;
    for (auto [dpi, countdown] : {std::pair{96, 7199}, {96, 59999}, {120, 7199}}) {
        s.Countdown = countdown;
        for (const TextLine& line : TextLines(s)) {
            const QFont font = FittedFont(SkinFont(dpi), line.Text, line.Rect.width());
            EXPECT_LE(QFontMetrics(font).horizontalAdvance(QString::fromStdString(line.Text)),
                      line.Rect.width())
                << line.Text << " at " << dpi;
        }
        EXPECT_FALSE(Render(s, dpi).isNull());
    }
}
