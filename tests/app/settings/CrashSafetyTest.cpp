// A writer killed at any moment leaves the settings file either as it was or as it was meant
// to become, never half written or missing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>

#include "app/settings/IniFile.h"
#include "tests/support/TestSupport.h"

namespace {

// A file big enough that a rewrite takes a while: many sections of many keys.
std::string StartContent() {
    std::string s;
    for (int sec = 0; sec < 40; ++sec) {
        s += "[Section" + std::to_string(sec) + "]\r\n";
        for (int k = 0; k < 50; ++k)
            s += "Key" + std::to_string(k) + "=value " + std::to_string(sec * 100 + k) + "\r\n";
    }
    return s;
}

pid_t StartWriter(const std::string& file, const std::string& value) {
    pid_t pid = ::fork();
    if (pid == 0) {
        bool ok = IniWriteRaw("Section20", "Key25", value, file);
        ::_exit(ok ? 0 : 1);
    }
    return pid;
}

void SleepMicroseconds(long us) {
    timespec ts{us / 1000000, (us % 1000000) * 1000};
    ::nanosleep(&ts, nullptr);
}

}  // namespace

TEST(IniCrashSafety, KilledWriterLeavesOldOrNewContent) {
    qvtest::TempDir dir;
    const std::string file = dir.File("Quorvex.ini");
    std::string current = StartContent();
    qvtest::WriteFile(file, current);

    // How long one unhindered writer takes from fork to exit, to spread the kills over it.
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i) {
        pid_t pid = StartWriter(file, "calibrate" + std::to_string(i));
        ASSERT_GT(pid, 0);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    long spanUs = std::max<long>(200, std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now() - t0)
                                              .count() /
                                          5);
    current = qvtest::ReadFile(file);

    std::mt19937 rng(12345);
    std::uniform_int_distribution<long> delay(0, spanUs * 3 / 2);
    int sawOld = 0, sawNew = 0;
    constexpr int kRounds = 250;
    for (int round = 0; round < kRounds; ++round) {
        const std::string value = "round " + std::to_string(round);
        const std::string next = IniRewrite(current, true, "Section20", "Key25", value);
        pid_t pid = StartWriter(file, value);
        ASSERT_GT(pid, 0);
        SleepMicroseconds(delay(rng));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);

        std::string after = qvtest::ReadFile(file);
        ASSERT_TRUE(after == current || after == next)
            << "round " << round << ": the file is neither the old nor the new content ("
            << after.size() << " bytes)";
        std::string read = IniReadRaw("Section20", "Key25", "", file);
        if (after == current) {
            ++sawOld;
        } else {
            ++sawNew;
            EXPECT_EQ(read, value);
        }
        current = after;
    }
    RecordProperty("KeptOld", sawOld);
    RecordProperty("BecameNew", sawNew);
    // Both outcomes happened, so the kills did land inside the writes.
    EXPECT_GT(sawOld, 0);
    EXPECT_GT(sawNew, 0);

    // Leftover temporaries of killed writers are cleared by the next complete write.
    ASSERT_TRUE(IniWriteRaw("Section0", "Key0", "done", file));
    EXPECT_EQ(qvtest::ListDir(dir.Path()), std::vector<std::string>{"Quorvex.ini"});
}
