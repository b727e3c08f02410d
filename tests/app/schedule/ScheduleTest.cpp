#include "app/schedule/Schedule.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <tuple>

#include "tests/support/LocalTime.h"

namespace {

using namespace qv::schedule;
using qvtest::LocalTime;

TEST(Schedule, ParsesRulesAndRefusesMalformedOnes) {
    const struct {
        const char* text;
        uint8_t days;
        int start, end, mode;
    } good[] = {{"12345 08:00-18:00 mode1", 0x1f, 480, 1080, 0},
                {"67 22:30-06:15 mode3", 0x60, 1350, 375, 2},
                {"  7   00:00-23:59  off ", 0x40, 0, 1439, -1}};
    for (const auto& c : good) {
        auto rule = ParseRule(c.text);
        ASSERT_TRUE(rule) << c.text;
        EXPECT_EQ(std::tuple(rule->Days, rule->Start, rule->End, rule->Mode),
                  std::tuple(c.days, c.start, c.end, c.mode))
            << c.text;
        EXPECT_EQ(ParseRule(FormatRule(*rule)), rule) << c.text;
    }
    // No action, no day 8 or 0, hours and minutes out of range or short, an empty range, no
    // mode 4, words after the action, nothing.
    for (const char* bad :
         {"1 08:00-18:00", "8 08:00-18:00 mode1", "0 08:00-18:00 mode1", "1 24:00-18:00 mode1",
          "1 08:60-18:00 mode1", "1 8:00-18:00 mode1", "1 08:00-08:00 mode1", "1 08:00-18:00 mode4",
          "1 08:00-18:00 mode1 x", ""}) {
        std::string why;
        EXPECT_FALSE(ParseRule(bad, &why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
}

std::tm At(int isoDay, int hour, int minute) {
    std::tm t{};
    t.tm_wday = isoDay % 7;
    t.tm_hour = hour;
    t.tm_min = minute;
    return t;
}

TEST(Schedule, RangeCrossingMidnightBelongsToTheDayItStarts) {
    auto rules = ParseRules({"5 22:00-06:00 mode2", "12345 08:00-18:00 mode1", "", "junk"});
    ASSERT_EQ(rules.size(), 2u);
    struct {
        int day, hour, minute, expected;
    } cases[] = {
        {5, 21, 59, -1}, {5, 22, 0, 0}, {6, 5, 59, 0},  {6, 6, 0, -1},   // Fri night
        {1, 5, 0, -1},   {1, 8, 0, 1},  {1, 17, 59, 1}, {1, 18, 0, -1},  // Monday
        {6, 8, 0, -1},                                                   // Saturday
    };
    for (const auto& c : cases)
        EXPECT_EQ(ActiveRule(rules, At(c.day, c.hour, c.minute)), c.expected)
            << c.day << " " << c.hour << ":" << c.minute;
}

class ScheduleClock : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "Europe/Berlin", 1);
        tzset();
    }
    void TearDown() override {
        unsetenv("TZ");
        tzset();
    }
};

TEST_F(ScheduleClock, AppliesAtStartRestoresAtEndAndManualChangesHold) {
    // 2026-03-27 is a Friday; summer time starts on Sunday the 29th at 02:00.
    Scheduler s(ParseRules({"5 22:00-06:00 mode2", "7 01:30-03:30 off"}));
    State state{true, 0};
    auto step = [&](std::time_t t) {
        if (auto next = s.Tick(t, state)) state = *next;
        return state;
    };
    EXPECT_EQ(step(LocalTime(2026, 3, 27, 21, 0)), (State{true, 0}));
    EXPECT_EQ(step(LocalTime(2026, 3, 27, 22, 0)), (State{true, 1}));  // rule starts
    state = State{false, 1};                                           // the user switches off
    EXPECT_EQ(step(LocalTime(2026, 3, 28, 3, 0)), (State{false, 1}));  // holds
    EXPECT_EQ(step(LocalTime(2026, 3, 28, 6, 0)), (State{true, 0}));   // back to before the rule
    // Across the change to summer time: 01:59 is followed by 03:00, still inside the rule.
    EXPECT_EQ(step(LocalTime(2026, 3, 29, 1, 40)), (State{false, 0}));
    EXPECT_EQ(step(LocalTime(2026, 3, 29, 1, 59) + 60), (State{false, 0}));
    EXPECT_EQ(step(LocalTime(2026, 3, 29, 3, 30)), (State{true, 0}));

    // Started inside a rule: applied at once, and ended later.
    Scheduler late(ParseRules({"5 22:00-06:00 mode3"}));
    State was{false, 0};
    EXPECT_EQ(late.Tick(LocalTime(2026, 3, 28, 1, 0), was), (State{true, 2}));
    EXPECT_EQ(late.Tick(LocalTime(2026, 3, 28, 6, 0), State{true, 2}), was);
}

TEST_F(ScheduleClock, NextChangeFollowsTheWallClock) {
    Scheduler s(ParseRules({"12345 08:00-18:00 mode1"}));
    auto next = s.Next(LocalTime(2026, 3, 27, 18, 30));  // Friday evening
    ASSERT_TRUE(next);
    EXPECT_EQ(next->When, LocalTime(2026, 3, 30, 8, 0));  // Monday, an hour less after the change
    EXPECT_EQ(next->Rule, 0);
    next = s.Next(LocalTime(2026, 3, 30, 9, 0));
    ASSERT_TRUE(next);
    EXPECT_EQ(next->When, LocalTime(2026, 3, 30, 18, 0));
    EXPECT_EQ(next->Rule, -1);
    EXPECT_FALSE(Scheduler({}).Next(LocalTime(2026, 3, 30, 9, 0)));
}

}  // namespace
