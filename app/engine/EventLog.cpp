#include "app/engine/EventLog.h"

#include <cstdio>
#include <cstdlib>

namespace qv::engine {

const char* LogKindText(int kind) {
    switch (kind) {
        case kLogDetectSave:
            return "動体検知保存";
        case kLogTimerSave:
            return "タイマー保存";
        case kLogMailNotice:
            return "メール通知";
        case kLogCameraLost:
            return "カメラ切断";
        case kLogCameraRestored:
            return "カメラ復旧";
        default:
            return "";
    }
}

std::string EventListLine(const std::tm& when, int kind, const std::string& text) {
    char head[64];
    std::snprintf(head, sizeof head, "%02d/%02d %02d:%02d:%02d ", when.tm_mon + 1, when.tm_mday,
                  when.tm_hour, when.tm_min, when.tm_sec);
    return std::string(head) + LogKindText(kind) + " " + text;
}

std::string EventListHiddenLine(int kind, const std::string& text) {
    return std::to_string(kind) + "," + text;
}

std::string LogFileLine(const std::tm& when, int kind, const std::string& text) {
    char head[80];
    std::snprintf(head, sizeof head, "%d,%04d/%02d/%02d %02d:%02d:%02d,", kind, when.tm_year + 1900,
                  when.tm_mon + 1, when.tm_mday, when.tm_hour, when.tm_min, when.tm_sec);
    return std::string(head) + LogKindText(kind) + "," + text;
}

std::string LogFileName(const std::tm& when) {
    char name[40];
    std::snprintf(name, sizeof name, "%04d-%02d-%02d.log", when.tm_year + 1900, when.tm_mon + 1,
                  when.tm_mday);
    return name;
}

void EventList::Insert(std::string visible, std::string hidden, std::string detail) {
    while (static_cast<int>(lines_.size()) >= kMaxLines) lines_.pop_back();
    lines_.push_front(Line{std::move(visible), std::move(hidden), std::move(detail)});
}

bool EventList::ParseHidden(const std::string& hidden, int& kind, std::string& text) {
    auto comma = hidden.find(',');
    if (comma == std::string::npos) return false;
    kind = std::atoi(hidden.substr(0, comma).c_str());
    text = hidden.substr(comma + 1);
    return true;
}

}  // namespace qv::engine
