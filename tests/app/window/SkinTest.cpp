// The skin painter and the mouse rules on the real bitmaps of assets/img, drawn into an image
// and compared region by region with the bitmaps that belong there.
#include <gtest/gtest.h>

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>

#include "app/window/Skin.h"

using namespace qv::window;

namespace {

std::vector<std::string> SourceAssets() {
    return {std::string(QUORVEX_SOURCE_ASSETS) + "/"};
}

const Skin& LoadedSkin() {
    static Skin skin;
    if (!skin.Loaded()) skin.Load(SourceAssets());
    return skin;
}

QImage Render(const SkinState& state) {
    QImage out(kWindowWidth, kWindowHeight, QImage::Format_RGB32);
    QPainter p(&out);
    DrawWindow(p, LoadedSkin(), state, SkinFont(96));
    return out;
}

// True when the region of `shot` at `at` equals `bitmap` pixel for pixel.
bool RegionIs(const QImage& shot, QPoint at, const QImage& bitmap) {
    return shot.copy(QRect(at, bitmap.size())) == bitmap.convertToFormat(QImage::Format_RGB32);
}

}  // namespace

TEST(Skin, AllBitmapsLoadAtTheirPlacesSizes) {
    Skin skin;
    std::string failed;
    ASSERT_TRUE(skin.Load(SourceAssets(), &failed)) << failed;
    const QSize expected[kSkinBitmapCount] = {
        {650, 25}, {650, 25},  {650, 5},   {650, 5},   {5, 480},   {5, 480}, {5, 480},
        {5, 480},  {320, 120}, {320, 120}, {320, 240}, {320, 240}, {18, 18}, {18, 18},
        {18, 18},  {18, 18},   {60, 60},   {60, 60},   {60, 60},   {60, 60}, {62, 22},
        {62, 22},  {54, 22},   {54, 22},   {54, 22},   {54, 22},   {54, 22}, {54, 22}};
    for (int i = 0; i < kSkinBitmapCount; ++i) {
        EXPECT_EQ(skin.Bitmap(i).size(), expected[i]) << SkinFileName(i);
    }
    // The on and off forms differ, or the user could not tell them apart.
    for (int off : {SwOff, Mosw1Off, Mosw2Off, Mosw3Off, SetCOff, SetHmOff}) {
        EXPECT_NE(skin.Bitmap(off), skin.Bitmap(off + 1)) << SkinFileName(off);
    }
    EXPECT_NE(skin.Bitmap(Frm11), skin.Bitmap(Frm12));
}

TEST(Skin, MissingFileIsNamed) {
    Skin skin;
    std::string failed;
    EXPECT_FALSE(skin.Load({"/nonexistent/"}, &failed));
    EXPECT_EQ(failed, "img/frm11.bmp");
    EXPECT_FALSE(skin.Loaded());
}

TEST(Skin, HitRectanglesAreRightAndBottomExclusive) {
    EXPECT_EQ(HitTest(QPoint(27, 294)), 0);
    EXPECT_EQ(HitTest(QPoint(88, 315)), 0);
    EXPECT_EQ(HitTest(QPoint(89, 315)), -1);
    EXPECT_EQ(HitTest(QPoint(88, 316)), -1);
    EXPECT_EQ(HitTest(QPoint(644, 20)), 6);
    EXPECT_EQ(HitTest(QPoint(645, 20)), -1);
    EXPECT_EQ(HitTest(QPoint(60, 460)), 9);
    EXPECT_EQ(HitTest(QPoint(400, 100)), -1);  // the preview area drags
}

TEST(Skin, SnapsWithinFifteenPixelsNotSixteen) {
    const QRect work(0, 0, 1920, 1040);
    EXPECT_EQ(SnapToWorkArea(QRect(15, 300, 650, 510), work).topLeft(), QPoint(0, 300));
    EXPECT_EQ(SnapToWorkArea(QRect(16, 300, 650, 510), work).topLeft(), QPoint(16, 300));
    EXPECT_EQ(SnapToWorkArea(QRect(-15, 300, 650, 510), work).topLeft(), QPoint(0, 300));
    // Right edge 1920 - 15: snapped so the window ends on the work area's right edge.
    EXPECT_EQ(SnapToWorkArea(QRect(1255, 300, 650, 510), work).topLeft(), QPoint(1270, 300));
    EXPECT_EQ(SnapToWorkArea(QRect(1254, 300, 650, 510), work).topLeft(), QPoint(1254, 300));
    // Top and bottom (the work area ends above a taskbar).
    EXPECT_EQ(SnapToWorkArea(QRect(300, 14, 650, 510), work).topLeft(), QPoint(300, 0));
    EXPECT_EQ(SnapToWorkArea(QRect(300, 520, 650, 510), work).topLeft(), QPoint(300, 530));
    EXPECT_EQ(SnapToWorkArea(QRect(300, 514, 650, 510), work).topLeft(), QPoint(300, 514));
    // A work area that does not start at 0 (a panel on the left).
    const QRect shifted(48, 24, 1872, 1056);
    EXPECT_EQ(SnapToWorkArea(QRect(60, 30, 650, 510), shifted).topLeft(), QPoint(48, 24));
    EXPECT_EQ(SnapToWorkArea(QRect(64, 40, 650, 510), shifted).topLeft(), QPoint(64, 40));
}

TEST(Skin, TrayTooltips) {
    EXPECT_EQ(TrayTooltip(false, 2, 12345), "停止中:ﾓｰﾄﾞ3:デテクト9999");
    EXPECT_EQ(TrayTooltip(true, 0, 42), "動作中:ﾓｰﾄﾞ1:デテクト0042");
    EXPECT_EQ(TrayTooltip(true, 1, 9999), "動作中:ﾓｰﾄﾞ2:デテクト9999");
    EXPECT_EQ(TrayTooltip(false, 0, 10000), "停止中:ﾓｰﾄﾞ1:デテクト9999");
    // The tray holds 63 characters.
    EXPECT_LE(QString::fromStdString(TrayTooltip(true, 2, 65535)).size(), 63);
}

TEST(Skin, ButtonPressMoveAndReleaseRules) {
    SkinMouse mouse;
    const QPoint inside4(270, 420), outside(270, 480);
    EXPECT_EQ(mouse.Press(inside4, QPoint(), QPoint()), 4);
    EXPECT_TRUE(mouse.PressedInside());
    EXPECT_TRUE(mouse.Move(outside, QPoint(), nullptr));  // changed: repaint
    EXPECT_FALSE(mouse.PressedInside());
    EXPECT_FALSE(mouse.Move(outside + QPoint(1, 0), QPoint(), nullptr));
    EXPECT_EQ(mouse.Release(outside), -1);  // released elsewhere: nothing
    EXPECT_EQ(mouse.Pressed(), -1);

    EXPECT_EQ(mouse.Press(inside4, QPoint(), QPoint()), 4);
    mouse.Move(outside, QPoint(), nullptr);
    EXPECT_TRUE(mouse.Move(inside4, QPoint(), nullptr));  // back on: pressed again
    EXPECT_TRUE(mouse.PressedInside());
    EXPECT_EQ(mouse.Release(inside4), 4);

    // Pressing one button and releasing on another runs neither.
    mouse.Press(QPoint(40, 300), QPoint(), QPoint());
    EXPECT_EQ(mouse.Release(QPoint(150, 300)), -1);
}

TEST(Skin, DraggingFollowsTheCursorAndRunsNoButton) {
    SkinMouse mouse;
    EXPECT_EQ(mouse.Press(QPoint(400, 100), QPoint(900, 400), QPoint(500, 300)), -1);
    EXPECT_EQ(mouse.Current(), SkinMouse::Kind::Drag);
    QPoint to;
    mouse.Move(QPoint(0, 0), QPoint(850, 430), &to);
    EXPECT_EQ(to, QPoint(450, 330));
    // Released over a button after a drag: still no action.
    EXPECT_EQ(mouse.Release(QPoint(40, 300)), -1);
}

TEST(SkinDrawing, SwitchesFollowTheStateAndMailNeedsTheModesSendMail) {
    const Skin& skin = LoadedSkin();
    ASSERT_TRUE(skin.Loaded());
    SkinState s;
    s.Running = true;
    s.MailSwitch = true;
    s.ModeSendMail = false;  // a mode that sends no mail
    s.CurrentMode = 1;
    QImage shot = Render(s);
    EXPECT_TRUE(RegionIs(shot, {27, 294}, skin.Bitmap(SwOn)));
    EXPECT_TRUE(RegionIs(shot, {134, 294}, skin.Bitmap(SwOff)));
    EXPECT_TRUE(RegionIs(shot, {241, 294}, skin.Bitmap(SwOff)));
    EXPECT_TRUE(RegionIs(shot, {31, 382}, skin.Bitmap(Mosw1Off)));
    EXPECT_TRUE(RegionIs(shot, {31, 414}, skin.Bitmap(Mosw2On)));
    EXPECT_TRUE(RegionIs(shot, {31, 446}, skin.Bitmap(Mosw3Off)));
    s.ModeSendMail = true;
    s.Pressed = 4;
    s.PressedInside = true;
    s.Active = false;
    shot = Render(s);
    EXPECT_TRUE(RegionIs(shot, {241, 294}, skin.Bitmap(SwOn)));
    EXPECT_TRUE(RegionIs(shot, {242, 395}, skin.Bitmap(SetHmOn)));
    EXPECT_TRUE(RegionIs(shot, {135, 395}, skin.Bitmap(SetCOff)));
    EXPECT_TRUE(RegionIs(shot, {0, 505}, skin.Bitmap(Frm22)));
    EXPECT_TRUE(RegionIs(shot, {645, 25}, skin.Bitmap(Frm42)));
    s.PressedInside = false;  // moved off: drawn released
    shot = Render(s);
    EXPECT_TRUE(RegionIs(shot, {242, 395}, skin.Bitmap(SetHmOff)));
}

TEST(SkinDrawing, CautionPicturesAlternateAndAMissingOneLeavesTheArea) {
    const auto folders = SourceAssets();
    const QImage c1 = LoadCautionPicture(folders, "", 1);
    const QImage c2 = LoadCautionPicture(folders, "no-such.bmp", 2);
    ASSERT_FALSE(c1.isNull());
    ASSERT_FALSE(c2.isNull());
    EXPECT_EQ(c1.size(), QSize(320, 240));
    EXPECT_NE(c1, c2);
    SkinState s;
    s.CautionShown = true;
    s.Caution1 = &c1;
    s.Caution2 = &c2;
    for (int ticks : {0, 4, 8}) {
        s.AlarmTicks = ticks;
        EXPECT_TRUE(RegionIs(Render(s), kLogArea.topLeft(), c1)) << ticks;
    }
    for (int ticks : {1, 2, 3, 5}) {
        s.AlarmTicks = ticks;
        EXPECT_TRUE(RegionIs(Render(s), kLogArea.topLeft(), c2)) << ticks;
    }
    const QImage none;
    s.Caution1 = s.Caution2 = &none;
    s.AlarmTicks = 0;
    EXPECT_TRUE(RegionIs(Render(s), kLogArea.topLeft(), LoadedSkin().Bitmap(BaseLog)));
    s.CautionShown = false;
    s.Caution1 = &c1;
    EXPECT_TRUE(RegionIs(Render(s), kLogArea.topLeft(), LoadedSkin().Bitmap(BaseLog)));
}

TEST(SkinDrawing, TextLines) {
    SkinState s;
    s.DeviceName = "Demo Camera";
    s.DeviceLine = "320x240 24bit";
    s.Level = 37;
    s.Countdown = 12 * 60 + 30;
    s.TimerEnable = true;
    s.DetectCount = 5;
    s.WarningCount = 1;
    auto lines = TextLines(s);
    EXPECT_EQ(lines[0].Text, "デバイス：Demo Camera");
    EXPECT_EQ(lines[1].Text, "320x240 24bit");
    EXPECT_EQ(lines[2].Text, "動体検知：0037");
    EXPECT_EQ(lines[3].Text, "タイマー：12:30");
    EXPECT_EQ(lines[4].Text, "動体検知回数：0005");
    EXPECT_EQ(lines[5].Text, "警告検知回数：0001");
    s.TimerEnable = false;
    EXPECT_EQ(TextLines(s)[3].Text, "タイマー：00:00");
    // Text is drawn white inside its line only, never into the preview.
    QImage shot = Render(s);
    const QImage blank = [] {
        SkinState empty;
        empty.DeviceName = "";
        return Render(empty);
    }();
    int changedInLine = 0;
    for (int y = 155; y < 173; ++y) {
        for (int x = 13; x < 317; ++x) changedInLine += shot.pixel(x, y) != blank.pixel(x, y);
    }
    EXPECT_GT(changedInLine, 50);
    for (int y = 25; y < 265; y += 7) {
        for (int x = 325; x < 645; x += 7) {
            ASSERT_EQ(QColor(shot.pixel(x, y)), QColor(215, 246, 255));
        }
    }
}

TEST(SkinDrawing, FontIsTheJapaneseGothicWithFixedPitchDigits) {
    if (!QFontDatabase::families().contains(QStringLiteral("IPAGothic"))) {
        GTEST_SKIP() << "IPAGothic (fonts-ipafont-gothic) is not installed";
    }
    const QFont font = SkinFont(96);
    EXPECT_EQ(QFontInfo(font).family(), "IPAGothic");
    EXPECT_EQ(font.pixelSize(), 16);
    EXPECT_TRUE(font.bold());
    const QFontMetrics m(font);
    EXPECT_EQ(m.horizontalAdvance(QStringLiteral("1111")),
              m.horizontalAdvance(QStringLiteral("8888")));
    // Full-width kana and kanji take two digit widths (the emboldening may add a pixel).
    EXPECT_NEAR(m.horizontalAdvance(QStringLiteral("動")),
                2 * m.horizontalAdvance(QStringLiteral("0")), 1);
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
