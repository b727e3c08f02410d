#include "app/schedule/Schedule.h"

#include <cstdio>

namespace qv::schedule {

namespace {

bool ParseClock(std::string_view s, int& minutes) {
    if (s.size() != 5 || s[2] != ':') return false;
    for (int i : {0, 1, 3, 4})
        if (s[i] < '0' || s[i] > '9') return false;
    const int h = (s[0] - '0') * 10 + (s[1] - '0');
    const int m = (s[3] - '0') * 10 + (s[4] - '0');
    if (h > 23 || m > 59) return false;
    minutes = h * 60 + m;
    return true;
}

std::string_view NextWord(std::string_view& s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    size_t n = 0;
    while (n < s.size() && s[n] != ' ' && s[n] != '\t') ++n;
    std::string_view word = s.substr(0, n);
    s.remove_prefix(n);
    return word;
}

bool Fail(std::string* error, const char* why) {
    if (error) *error = why;
    return false;
}

// Monday = 1 .. Sunday = 7.
int IsoWeekday(const std::tm& t) {
    return t.tm_wday == 0 ? 7 : t.tm_wday;
}

}  // namespace

std::optional<Rule> ParseRule(std::string_view text, std::string* error) {
    Rule rule;
    std::string_view rest = text;
    std::string_view days = NextWord(rest), range = NextWord(rest), action = NextWord(rest);
    if (!NextWord(rest).empty()) return Fail(error, "too many words"), std::nullopt;
    if (days.empty() || action.empty())
        return Fail(error, "expected \"DAYS HH:MM-HH:MM ACTION\""), std::nullopt;
    for (char c : days) {
        if (c < '1' || c > '7')
            return Fail(error, "days are digits 1 (Monday) to 7 (Sunday)"), std::nullopt;
        rule.Days |= static_cast<uint8_t>(1u << (c - '1'));
    }
    if (range.size() != 11 || range[5] != '-' || !ParseClock(range.substr(0, 5), rule.Start) ||
        !ParseClock(range.substr(6), rule.End))
        return Fail(error, "the times are HH:MM-HH:MM"), std::nullopt;
    if (rule.Start == rule.End) return Fail(error, "the range is empty"), std::nullopt;
    if (action == "off") {
        rule.Mode = -1;
    } else if (action.size() == 5 && action.substr(0, 4) == "mode" && action[4] >= '1' &&
               action[4] <= '3') {
        rule.Mode = action[4] - '1';
    } else {
        return Fail(error, "the action is mode1, mode2, mode3 or off"), std::nullopt;
    }
    return rule;
}

std::string FormatRule(const Rule& rule) {
    std::string days;
    for (int d = 0; d < 7; ++d)
        if (rule.Days & (1u << d)) days += static_cast<char>('1' + d);
    char text[64];
    std::snprintf(text, sizeof text, "%s %02d:%02d-%02d:%02d ", days.c_str(), rule.Start / 60,
                  rule.Start % 60, rule.End / 60, rule.End % 60);
    return text + (rule.Mode < 0 ? std::string("off") : "mode" + std::to_string(rule.Mode + 1));
}

std::vector<Rule> ParseRules(const std::vector<std::string>& texts,
                             std::vector<std::string>* errors) {
    std::vector<Rule> rules;
    for (const std::string& text : texts) {
        if (text.find_first_not_of(" \t") == std::string::npos) continue;
        std::string why;
        if (auto rule = ParseRule(text, &why))
            rules.push_back(*rule);
        else if (errors)
            errors->push_back("\"" + text + "\": " + why);
    }
    return rules;
}

int ActiveRule(const std::vector<Rule>& rules, const std::tm& local) {
    const int minute = local.tm_hour * 60 + local.tm_min;
    const int today = IsoWeekday(local);
    const int yesterday = today == 1 ? 7 : today - 1;
    for (size_t i = 0; i < rules.size(); ++i) {
        const Rule& r = rules[i];
        const bool onToday = r.Days & (1u << (today - 1));
        const bool onYesterday = r.Days & (1u << (yesterday - 1));
        const bool active = r.Start < r.End
                                ? onToday && minute >= r.Start && minute < r.End
                                : (onToday && minute >= r.Start) || (onYesterday && minute < r.End);
        if (active) return static_cast<int>(i);
    }
    return -1;
}

static std::tm Local(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

std::optional<State> Scheduler::Tick(std::time_t now, const State& current) {
    const int active = ActiveRule(rules_, Local(now));
    const bool first = !started_;
    started_ = true;
    if (!first && active == active_) return std::nullopt;
    const int was = active_;
    active_ = active;
    if (active < 0) {
        if (first || was < 0) return std::nullopt;
        return before_;  // the rule ended: back to the state from before it
    }
    if (was < 0) before_ = current;
    const Rule& r = rules_[active];
    return r.Mode < 0 ? State{false, current.Mode} : State{true, r.Mode};
}

std::optional<Scheduler::Change> Scheduler::Next(std::time_t now) const {
    const int at = ActiveRule(rules_, Local(now));
    // Minute by minute on the wall clock; a boundary falls on a whole minute.
    std::time_t t = now - now % 60 + 60;
    for (int i = 0; i < 8 * 24 * 60; ++i, t += 60) {
        const int r = ActiveRule(rules_, Local(t));
        if (r != at) return Change{t, r};
    }
    return std::nullopt;
}

}  // namespace qv::schedule
