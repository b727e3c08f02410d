#include "app/window/Skin.h"

#include <QFileInfo>
#include <QFontMetrics>
#include <QPainter>
#include <cstdio>

#include "app/settings/ProgramFolder.h"

namespace qv::window {
namespace {

const char* const kSkinFiles[kSkinBitmapCount] = {
    "img/frm11.bmp",     "img/frm12.bmp",      "img/frm21.bmp",      "img/frm22.bmp",
    "img/frm31.bmp",     "img/frm32.bmp",      "img/frm41.bmp",      "img/frm42.bmp",
    "img/logo.bmp",      "img/base_state.bmp", "img/base_sw.bmp",    "img/base_log.bmp",
    "img/btn11.bmp",     "img/btn12.bmp",      "img/btn21.bmp",      "img/btn22.bmp",
    "img/set_c_off.bmp", "img/set_c_on.bmp",   "img/set_hm_off.bmp", "img/set_hm_on.bmp",
    "img/sw_off.bmp",    "img/sw_on.bmp",      "img/mosw1off.bmp",   "img/mosw1on.bmp",
    "img/mosw2off.bmp",  "img/mosw2on.bmp",    "img/mosw3off.bmp",   "img/mosw3on.bmp",
};

const QRect kButtons[kButtonCount] = {
    QRect(QPoint(27, 294), QPoint(88, 315)),   QRect(QPoint(134, 294), QPoint(195, 315)),
    QRect(QPoint(241, 294), QPoint(302, 315)), QRect(QPoint(135, 395), QPoint(194, 454)),
    QRect(QPoint(242, 395), QPoint(301, 454)), QRect(QPoint(602, 3), QPoint(619, 20)),
    QRect(QPoint(627, 3), QPoint(644, 20)),    QRect(QPoint(31, 382), QPoint(84, 403)),
    QRect(QPoint(31, 414), QPoint(84, 435)),   QRect(QPoint(31, 446), QPoint(84, 467)),
};

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

std::string Format(const char* format, int value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

}  // namespace

const char* SkinFileName(int bitmap) {
    return bitmap >= 0 && bitmap < kSkinBitmapCount ? kSkinFiles[bitmap] : "";
}

std::vector<std::string> AssetFolders(const std::string& programFolder) {
    std::vector<std::string> folders;
    auto add = [&folders](std::string folder) {
        if (folder.empty()) return;
        if (folder.back() != '/') folder += '/';
        for (const std::string& f : folders) {
            if (f == folder) return;
        }
        folders.push_back(folder);
    };
    add(programFolder);
    for (const std::string& folder : DataFolders()) add(folder);
    return folders;
}

std::string FindAsset(const std::vector<std::string>& folders, const std::string& relative) {
    if (relative.empty()) return "";
    if (relative.front() == '/') return QFileInfo::exists(Q(relative)) ? relative : "";
    for (const std::string& folder : folders) {
        const std::string path = folder + relative;
        if (QFileInfo(Q(path)).isFile()) return path;
    }
    return "";
}

bool Skin::Load(const std::vector<std::string>& folders, std::string* failedFile) {
    loaded_ = false;
    for (int i = 0; i < kSkinBitmapCount; ++i) {
        const std::string path = FindAsset(folders, kSkinFiles[i]);
        QImage image;
        if (path.empty() || !image.load(Q(path))) {
            if (failedFile) *failedFile = kSkinFiles[i];
            return false;
        }
        bitmaps_[static_cast<std::size_t>(i)] = image.convertToFormat(QImage::Format_RGB32);
    }
    loaded_ = true;
    return true;
}

QRect ButtonRect(int index) {
    return index >= 0 && index < kButtonCount ? kButtons[index] : QRect();
}

int HitTest(QPoint p) {
    for (int i = 0; i < kButtonCount; ++i) {
        if (kButtons[i].contains(p)) return i;
    }
    return -1;
}

QRect SnapToWorkArea(const QRect& moved, const QRect& work, int distance) {
    QRect r = moved;
    const int workRight = work.x() + work.width();
    const int workBottom = work.y() + work.height();
    if (std::abs(r.x() - work.x()) < distance) {
        r.moveLeft(work.x());
    } else if (std::abs(r.x() + r.width() - workRight) < distance) {
        r.moveLeft(workRight - r.width());
    }
    if (std::abs(r.y() - work.y()) < distance) {
        r.moveTop(work.y());
    } else if (std::abs(r.y() + r.height() - workBottom) < distance) {
        r.moveTop(workBottom - r.height());
    }
    return r;
}

std::string TrayTooltip(bool running, int currentMode, unsigned long level) {
    const unsigned long shown = level >= 10000 ? 9999 : level;
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "%s:ﾓｰﾄﾞ%d:デテクト%04lu", running ? "動作中" : "停止中",
                  currentMode + 1, shown);
    return buffer;
}

bool ButtonDrawnOn(const SkinState& s, int index) {
    const bool pressed = s.Pressed == index && s.PressedInside;
    switch (index) {
        case BtnStartStop:
            return pressed || s.Running;
        case BtnPreview:
            return pressed || s.PreviewOn;
        case BtnMail:
            return s.ModeSendMail && (pressed || s.MailSwitch);
        case BtnMode1:
        case BtnMode2:
        case BtnMode3:
            return pressed || s.CurrentMode == index - BtnMode1;
        default:
            return pressed;
    }
}

std::array<TextLine, kTextLineCount> TextLines(const SkinState& s) {
    std::array<TextLine, kTextLineCount> lines;
    lines[LineDevice] = {QRect(QPoint(13, 155), QPoint(316, 172)), "デバイス：" + s.DeviceName};
    lines[LineFormat] = {QRect(QPoint(13, 173), QPoint(316, 190)), s.DeviceLine};
    lines[LineLevel] = {QRect(QPoint(25, 196), QPoint(154, 213)),
                        Format("動体検知：%04d", s.Level)};
    std::string timer = "タイマー：00:00";
    if (s.TimerEnable) {
        // Whole minutes: timer intervals go up to 120 minutes, and a file may hold more.
        const int seconds = s.Countdown < 0 ? 0 : s.Countdown;
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "タイマー：%02d:%02d", seconds / 60, seconds % 60);
        timer = buffer;
    }
    // Up to the panel's right edge, as the device lines: three-digit minutes fit.
    lines[LineCountdown] = {QRect(QPoint(165, 196), QPoint(316, 213)), timer};
    lines[LineDetectCount] = {QRect(QPoint(86, 218), QPoint(243, 235)),
                              Format("動体検知回数：%04d", s.DetectCount)};
    lines[LineWarningCount] = {QRect(QPoint(86, 238), QPoint(239, 255)),
                               Format("警告検知回数：%04d", s.WarningCount)};
    return lines;
}

QFont FittedFont(const QFont& font, const std::string& text, int width) {
    const QString shown = Q(text);
    QFont fitted = font;
    for (int stretch = 95; stretch >= 50 && QFontMetrics(fitted).horizontalAdvance(shown) > width;
         stretch -= 5)
        fitted.setStretch(stretch);
    return fitted;
}

QFont SkinFont(int dpiY) {
    // fontconfig hands out DejaVu Sans for these names; the Japanese gothic keeps the digits
    // fixed-pitch and has the kana.
    const QStringList gothic = {
        QStringLiteral("IPAGothic"), QStringLiteral("IPAゴシック"), QStringLiteral("VL Gothic"),
        QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("Noto Sans CJK JP")};
    for (const QString& name : {QStringLiteral("ＭＳ ゴシック"), QStringLiteral("MS Gothic")}) {
        if (QFont::substitutes(name).isEmpty()) QFont::insertSubstitutions(name, gothic);
    }
    QFont font(QStringLiteral("ＭＳ ゴシック"));
    font.setPixelSize((12 * (dpiY > 0 ? dpiY : 96) + 36) / 72);
    font.setWeight(QFont::Bold);
    font.setFixedPitch(true);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

const std::array<QRect, 7>& CopiedAreas() {
    static const std::array<QRect, 7> areas = {
        QRect(0, 0, 650, 25),      QRect(0, 505, 650, 5),  QRect(0, 25, 5, 480),
        QRect(645, 25, 5, 480),    QRect(5, 25, 320, 240), QRect(5, 265, 320, 240),
        QRect(325, 265, 320, 240),
    };
    return areas;
}

void DrawWindow(QPainter& p, const Skin& skin, const SkinState& s, const QFont& font) {
    p.fillRect(QRect(0, 0, kWindowWidth, kWindowHeight), QColor(215, 246, 255));
    auto draw = [&](int bitmap, int x, int y) {
        const QImage& image = skin.Bitmap(bitmap);
        if (!image.isNull()) p.drawImage(x, y, image);
    };
    const int a = s.Active ? 0 : 1;
    draw(Frm11 + a, 0, 0);
    draw(Frm21 + a, 0, 505);
    draw(Frm31 + a, 0, 25);
    draw(Frm41 + a, 645, 25);
    draw(Logo, 5, 25);
    draw(BaseState, 5, 145);
    draw(BaseSw, 5, 265);
    draw(BaseLog, 325, 265);
    for (int i : {BtnStartStop, BtnPreview, BtnMail}) {
        draw(ButtonDrawnOn(s, i) ? SwOn : SwOff, ButtonRect(i).x(), ButtonRect(i).y());
    }
    for (int i : {BtnMode1, BtnMode2, BtnMode3}) {
        const int off = Mosw1Off + (i - BtnMode1) * 2;
        draw(ButtonDrawnOn(s, i) ? off + 1 : off, ButtonRect(i).x(), ButtonRect(i).y());
    }
    draw(ButtonDrawnOn(s, BtnBasicSettings) ? SetCOn : SetCOff, 135, 395);
    draw(ButtonDrawnOn(s, BtnWarningSettings) ? SetHmOn : SetHmOff, 242, 395);
    draw(ButtonDrawnOn(s, BtnToTray) ? Btn12 : Btn11, 602, 3);
    draw(ButtonDrawnOn(s, BtnExit) ? Btn22 : Btn21, 627, 3);
    if (s.CautionShown) {
        const QImage* picture = s.AlarmTicks % 4 == 0 ? s.Caution1 : s.Caution2;
        if (picture && !picture->isNull()) {
            p.save();
            p.setClipRect(kLogArea);
            p.drawImage(kLogArea.topLeft(), *picture);
            p.restore();
        }
    }
    p.save();
    p.setFont(font);
    p.setPen(Qt::white);
    for (const TextLine& line : TextLines(s)) {
        const QString text = Q(line.Text);
        p.setFont(FittedFont(font, line.Text, line.Rect.width()));
        p.setClipRect(line.Rect);
        p.drawText(line.Rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    }
    p.restore();
}

int SkinMouse::Press(QPoint client, QPoint screen, QPoint windowTopLeft) {
    const int hit = HitTest(client);
    if (hit >= 0) {
        kind_ = Kind::Button;
        pressed_ = hit;
        inside_ = true;
        return hit;
    }
    kind_ = Kind::Drag;
    pressed_ = -1;
    inside_ = false;
    dragStartScreen_ = screen;
    dragStartWindow_ = windowTopLeft;
    return -1;
}

bool SkinMouse::Move(QPoint client, QPoint screen, QPoint* dragTo) {
    if (kind_ == Kind::Drag) {
        if (dragTo) *dragTo = dragStartWindow_ + (screen - dragStartScreen_);
        return false;
    }
    if (kind_ == Kind::Button) {
        const bool inside = ButtonRect(pressed_).contains(client);
        if (inside != inside_) {
            inside_ = inside;
            return true;
        }
    }
    return false;
}

int SkinMouse::Release(QPoint client) {
    const Kind kind = kind_;
    const int pressed = pressed_;
    kind_ = Kind::None;
    pressed_ = -1;
    inside_ = false;
    if (kind != Kind::Button) return -1;
    return ButtonRect(pressed).contains(client) ? pressed : -1;
}

QImage LoadCautionPicture(const std::vector<std::string>& folders, const std::string& name, int k) {
    const std::string fallback = "img/caution" + std::to_string(k) + ".bmp";
    QImage image;
    for (const std::string& candidate : {name.empty() ? fallback : name, fallback}) {
        // A bare name is looked up beside the program first, as the fallback in img/.
        std::string path = FindAsset(folders, candidate);
        if (path.empty() && QFileInfo::exists(Q(candidate))) path = candidate;
        if (!path.empty() && image.load(Q(path)))
            return image.convertToFormat(QImage::Format_RGB32);
    }
    return QImage();
}

}  // namespace qv::window
