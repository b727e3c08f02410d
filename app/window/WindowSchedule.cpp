#include "app/window/WindowSchedule.h"

#include <cstdio>

namespace qv::window {

void WindowSchedule::Load(const ScheduleSettings& settings) {
    scheduler_.reset();
    rules_.clear();
    last_ = -1;
    lineUntil_ = -1;
    line_.clear();
    if (!settings.Enable) return;
    std::vector<std::string> texts;
    for (const std::string* rule : settings.Rules()) texts.push_back(*rule);
    std::vector<std::string> errors;
    rules_ = qv::schedule::ParseRules(texts, &errors);
    for (const std::string& e : errors) std::fprintf(stderr, "Quorvex: schedule: %s\n", e.c_str());
    if (!rules_.empty()) scheduler_ = std::make_unique<qv::schedule::Scheduler>(rules_);
}

std::optional<qv::schedule::State> WindowSchedule::Tick(std::time_t now,
                                                        const qv::schedule::State& current) {
    if (!scheduler_ || now == last_) return std::nullopt;
    last_ = now;
    return scheduler_->Tick(now, current);
}

std::string WindowSchedule::NextChangeLine(std::time_t now) {
    if (!scheduler_) return {};
    // Looking ahead walks a week minute by minute: only again once the change is past.
    if (lineUntil_ >= 0 && now < lineUntil_) return line_;
    const auto next = scheduler_->Next(now);
    line_.clear();
    lineUntil_ = now + 3600;
    if (!next) return {};
    lineUntil_ = next->When;
    std::tm local{};
    localtime_r(&next->When, &local);
    static const char* const kActions[] = {"モード１", "モード２", "モード３"};
    std::string action = "予定の終了";
    if (next->Rule >= 0) {
        const int mode = rules_[static_cast<std::size_t>(next->Rule)].Mode;
        action = mode < 0 ? "停止" : kActions[mode];
    }
    char when[32];
    std::snprintf(when, sizeof when, "%02d/%02d %02d:%02d", local.tm_mon + 1, local.tm_mday,
                  local.tm_hour, local.tm_min);
    line_ = std::string("次の切替 ") + when + " " + action;
    return line_;
}

}  // namespace qv::window
