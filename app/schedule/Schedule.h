// Weekly rules that switch monitoring: "DAYS HH:MM-HH:MM ACTION", e.g. "12345 08:00-18:00 mode1".
// DAYS are ISO weekday digits (1 Monday .. 7 Sunday); a range may cross midnight and then
// belongs to the day it starts on; ACTION is mode1..mode3 (monitoring on in that mode) or off.
// Rules are read against the local wall clock, so a daylight-saving change moves nothing.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::schedule {

struct Rule {
    uint8_t Days = 0;  // bit d-1 for ISO weekday d
    int Start = 0;     // minutes after midnight
    int End = 0;       // minutes after midnight; End <= Start crosses midnight
    int Mode = -1;     // 0..2, or -1 for "off"
    bool operator==(const Rule&) const = default;
};

// The rule, or nullopt with a reason in *error.
std::optional<Rule> ParseRule(std::string_view text, std::string* error = nullptr);
std::string FormatRule(const Rule& rule);

// Rules from the settings' Rule1..Rule10 texts; empty and unreadable ones are skipped (each
// unreadable one is named in *errors).
std::vector<Rule> ParseRules(const std::vector<std::string>& texts,
                             std::vector<std::string>* errors = nullptr);

// The index of the first rule in force at this local time, or -1.
int ActiveRule(const std::vector<Rule>& rules, const std::tm& local);

// What monitoring should be: on or off, and in which mode.
struct State {
    bool Monitoring = false;
    int Mode = 0;
    bool operator==(const State&) const = default;
};

// Applies the rules at their boundaries. At a rule's start its action is applied; at its end
// the state from before it comes back; a manual change in between holds until the next
// boundary. Starting inside a rule applies it at once.
class Scheduler {
  public:
    explicit Scheduler(std::vector<Rule> rules) : rules_(std::move(rules)) {}

    // Called regularly with the time and the current state; returns the state to switch to when
    // a boundary was crossed since the last call.
    std::optional<State> Tick(std::time_t now, const State& current);

    // The next boundary after now within eight days, or nullopt when there is none.
    struct Change {
        std::time_t When = 0;
        int Rule = -1;  // the rule that starts, or -1 when the boundary only ends one
    };
    std::optional<Change> Next(std::time_t now) const;

  private:
    std::vector<Rule> rules_;
    bool started_ = false;
    int active_ = -1;
    State before_;
};

}  // namespace qv::schedule
