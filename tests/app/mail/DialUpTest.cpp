// Dial-up through nmcli, with a stand-in nmcli on PATH.
#include <gtest/gtest.h>

#include <chrono>

#include "platform/dialup/DialUp.h"
#include "tests/app/mail/FakeNmcli.h"

namespace {

using mailtest::FakeNmcli;
using mailtest::NoNmcli;

TEST(DialUpEntries, ConnectionNamesUnescaped) {
    FakeNmcli nmcli({"Wired connection 1", "フレッツ", "a:b"});
    EXPECT_EQ(qv::dialup::PhonebookEntries(),
              (std::vector<std::string>{"Wired connection 1", "フレッツ", "a:b"}));
    EXPECT_EQ(nmcli.Calls(), "-t -f NAME connection show\n");
}

TEST(DialUpEntries, NoNmcliMeansNoEntriesAndNoDial) {
    NoNmcli none;
    EXPECT_TRUE(qv::dialup::PhonebookEntries().empty());
    EXPECT_FALSE(qv::dialup::BringUp("anything", 2000));
    EXPECT_FALSE(qv::dialup::TakeDown("anything", 2000));
}

TEST(DialUpBringUp, UpDownAndRefusals) {
    {
        FakeNmcli nmcli({"isp"});
        EXPECT_TRUE(qv::dialup::BringUp("isp", 5000));
        EXPECT_TRUE(qv::dialup::TakeDown("isp", 5000));
        EXPECT_EQ(nmcli.Calls(),
                  "-t -f NAME connection show\n"
                  "-w 5 connection up id isp\n"
                  "-w 5 connection down id isp\n");
    }
    {
        // An unknown entry is never brought up.
        FakeNmcli nmcli({"isp"});
        EXPECT_FALSE(qv::dialup::BringUp("other", 5000));
        EXPECT_FALSE(qv::dialup::BringUp("", 5000));
        EXPECT_EQ(nmcli.Calls(), "-t -f NAME connection show\n");
    }
    {
        FakeNmcli nmcli({"isp"}, 4);
        EXPECT_FALSE(qv::dialup::BringUp("isp", 5000));
    }
}

TEST(DialUpBringUp, AHangingNmcliIsStopped) {
    FakeNmcli nmcli({"isp"}, 0, 30);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(qv::dialup::BringUp("isp", 500));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    start = std::chrono::steady_clock::now();
    EXPECT_FALSE(qv::dialup::BringUp("isp", 60000, [start] {
        return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(300);
    }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
