// The main window's skin: the 28 bitmaps and their places, the ten skin buttons, the six text
// lines, the caution pictures, window snapping and the tray tooltip. Widget-free drawing into
// a back buffer so that the window and its tests share one painter. Window thread only.
#pragma once

#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <array>
#include <string>
#include <vector>

class QPainter;

namespace qv::window {

inline constexpr int kWindowWidth = 650;
inline constexpr int kWindowHeight = 510;
inline constexpr int kSnapDistance = 16;
inline const QRect kPreviewRect(325, 25, 320, 240);
inline const QRect kLogArea(325, 265, 320, 240);
// The event list's place when the window is first shown.
inline const QRect kEventListRect(333, 291, 305, 206);

// The bitmaps in loading order (the order of the skin table).
enum SkinBitmap {
    Frm11,
    Frm12,
    Frm21,
    Frm22,
    Frm31,
    Frm32,
    Frm41,
    Frm42,
    Logo,
    BaseState,
    BaseSw,
    BaseLog,
    Btn11,
    Btn12,
    Btn21,
    Btn22,
    SetCOff,
    SetCOn,
    SetHmOff,
    SetHmOn,
    SwOff,
    SwOn,
    Mosw1Off,
    Mosw1On,
    Mosw2Off,
    Mosw2On,
    Mosw3Off,
    Mosw3On,
    kSkinBitmapCount
};

// "img/frm11.bmp" and so on.
const char* SkinFileName(int bitmap);

// Where the skin and caution files are looked for: each folder in turn (ending in '/').
// The program folder, the installed data folder, then the source tree's assets.
std::vector<std::string> AssetFolders(const std::string& programFolder);
// The first existing file among folder + relative; "" when none exists. An absolute path is
// taken as it is when it exists.
std::string FindAsset(const std::vector<std::string>& folders, const std::string& relative);

class Skin {
  public:
    // Loads the 28 bitmaps in table order; stops at the first that fails and names it.
    bool Load(const std::vector<std::string>& folders, std::string* failedFile = nullptr);
    const QImage& Bitmap(int bitmap) const { return bitmaps_[static_cast<std::size_t>(bitmap)]; }
    bool Loaded() const { return loaded_; }

  private:
    std::array<QImage, kSkinBitmapCount> bitmaps_;
    bool loaded_ = false;
};

// The ten skin buttons, in the order of their table: three switches, the two settings
// buttons, tray and exit in the title bar, the three mode switches.
enum SkinButton : int {
    BtnStartStop,
    BtnPreview,
    BtnMail,
    BtnBasicSettings,
    BtnWarningSettings,
    BtnToTray,
    BtnExit,
    BtnMode1,
    BtnMode2,
    BtnMode3,
    kButtonCount
};

// The six text lines, in the order TextLines gives them.
enum TextLineIndex : int {
    LineDevice,
    LineFormat,
    LineLevel,
    LineCountdown,
    LineDetectCount,
    LineWarningCount,
    kTextLineCount
};

// Hit rectangle of a skin button.
QRect ButtonRect(int index);
// First button whose rectangle holds the point, or -1.
int HitTest(QPoint clientPoint);

// Snaps a moved window rectangle to the work area: an edge closer than `distance` pixels to
// the work area's edge is put on it (left before right, top before bottom); size unchanged.
QRect SnapToWorkArea(const QRect& moved, const QRect& workArea, int distance = kSnapDistance);

// "動作中:ﾓｰﾄﾞ%d:デテクト%04d" / "停止中:ﾓｰﾄﾞ%d:デテクト%04d"; the level shows 9999 from 10000 up.
std::string TrayTooltip(bool running, int currentMode, unsigned long level);

// What the window shows; filled from the engine before each paint.
struct SkinState {
    bool Active = true;  // foreground and no dialog open
    bool Running = false;
    bool PreviewOn = false;
    bool MailSwitch = false;
    bool ModeSendMail = false;  // SendMail of the current mode
    bool TimerEnable = false;   // TimerEnable of the current mode
    int CurrentMode = 0;
    int Pressed = -1;  // pressed button, -1 none
    bool PressedInside = false;
    bool CautionShown = false;
    int AlarmTicks = 0;
    const QImage* Caution1 = nullptr;  // the current mode's pictures (null or empty: none)
    const QImage* Caution2 = nullptr;
    std::string DeviceName;
    std::string DeviceLine;
    int Level = 0;
    int Countdown = 0;  // seconds
    int DetectCount = 0;
    int WarningCount = 0;
};

// Whether button index is drawn "on" (the buttons table's rule).
bool ButtonDrawnOn(const SkinState& state, int index);

// The six text lines and their rectangles.
struct TextLine {
    QRect Rect;
    std::string Text;
};
std::array<TextLine, kTextLineCount> TextLines(const SkinState& state);

// The text font: "ＭＳ ゴシック", 12 points at dpiY, bold, fixed pitch; the family is
// substituted by the installed Japanese gothic font so the digits keep their width.
QFont SkinFont(int dpiY);
// Window thread. font, narrowed when text is wider than width pixels: a text too wide for its
// place is drawn narrower rather than cut off.
QFont FittedFont(const QFont& font, const std::string& text, int width);

// DrawWindow: everything into a 650 x 510 back buffer.
void DrawWindow(QPainter& painter, const Skin& skin, const SkinState& state, const QFont& font);

// The seven areas copied from the back buffer to the screen (never the preview area).
const std::array<QRect, 7>& CopiedAreas();

// Press / move / release handling of the skin buttons and window dragging.
class SkinMouse {
  public:
    enum class Kind { None, Button, Drag };
    // Left button down at clientPoint (screenPoint for dragging). Returns the pressed button or
    // -1 when dragging starts.
    int Press(QPoint clientPoint, QPoint screenPoint, QPoint windowTopLeft);
    // Mouse move. Button: true when the pressed-inside flag changed. Drag: new top-left in
    // *dragTo (before snapping).
    bool Move(QPoint clientPoint, QPoint screenPoint, QPoint* dragTo);
    // Left button up. The button whose action runs, or -1 (released outside, or a drag).
    int Release(QPoint clientPoint);

    Kind Current() const { return kind_; }
    int Pressed() const { return kind_ == Kind::Button ? pressed_ : -1; }
    bool PressedInside() const { return kind_ == Kind::Button && inside_; }

  private:
    Kind kind_ = Kind::None;
    int pressed_ = -1;
    bool inside_ = false;
    QPoint dragStartScreen_;
    QPoint dragStartWindow_;
};

// Loads a caution picture: name (when not empty) and then "img/caution<k>.bmp"; a null image
// when neither loads.
QImage LoadCautionPicture(const std::vector<std::string>& folders, const std::string& name, int k);

}  // namespace qv::window
