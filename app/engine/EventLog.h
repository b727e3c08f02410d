// The event log's texts and the event list model: one line per saved picture or mail
// outcome, newest first, at most 50 lines, with a hidden companion line per entry.
#pragma once

#include <ctime>
#include <deque>
#include <string>

namespace qv::engine {

enum LogKind : int {
    kLogDetectSave = 0,
    kLogTimerSave = 1,
    kLogMailNotice = 2,
    kLogCameraLost = 3,      // a stream camera stopped; it is being retried
    kLogCameraRestored = 4,  // frames flow again
};

// "動体検知保存", "タイマー保存", "メール通知", "カメラ切断", "カメラ復旧"; "" for any other.
const char* LogKindText(int kind);

// "%02d/%02d %02d:%02d:%02d %s %s": month, day, time, kind text, entry text.
std::string EventListLine(const std::tm& when, int kind, const std::string& text);
// "%d,%s": kind, entry text.
std::string EventListHiddenLine(int kind, const std::string& text);
// "%d,%04d/%02d/%02d %02d:%02d:%02d,%s,%s" without the line end.
std::string LogFileLine(const std::tm& when, int kind, const std::string& text);
// "%04d-%02d-%02d.log".
std::string LogFileName(const std::tm& when);

// The two list boxes as data. Used on the window thread only.
class EventList {
  public:
    static constexpr int kMaxLines = 50;

    // Drops the oldest lines down to 49, then puts the new one at index 0. detail is shown as
    // the line's tooltip (why a mail failed).
    void Insert(std::string visible, std::string hidden, std::string detail = "");
    int Count() const { return static_cast<int>(lines_.size()); }
    const std::string& Visible(int index) const {
        return lines_.at(static_cast<size_t>(index)).Visible;
    }
    const std::string& Hidden(int index) const {
        return lines_.at(static_cast<size_t>(index)).Hidden;
    }
    const std::string& Detail(int index) const {
        return lines_.at(static_cast<size_t>(index)).Detail;
    }
    // The kind and entry text of a hidden line ("%d,%s"); false when it has no comma.
    static bool ParseHidden(const std::string& hidden, int& kind, std::string& text);

  private:
    struct Line {
        std::string Visible;
        std::string Hidden;
        std::string Detail;
    };
    std::deque<Line> lines_;
};

}  // namespace qv::engine
