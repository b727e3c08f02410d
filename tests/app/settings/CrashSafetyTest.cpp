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

// Forks a writer; with killAfterUs >= 0 kills it after that long. True when it ended by itself.
bool RunWriter(const std::string& file, const std::string& value, long killAfterUs) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(IniWriteRaw("Section20", "Key25", value, file) ? 0 : 1);
    if (killAfterUs >= 0) {
        timespec ts{killAfterUs / 1000000, (killAfterUs % 1000000) * 1000};
        ::nanosleep(&ts, nullptr);
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

TEST(IniCrashSafety, KilledWriterLeavesOldOrNewContent) {
    qvtest::TempDir dir;
    const std::string file = dir.File("Quorvex.ini");
    std::string content;  // big enough that a rewrite takes a while
    for (int sec = 0; sec < 40; ++sec) {
        content += "[Section" + std::to_string(sec) + "]\r\n";
        for (int k = 0; k < 50; ++k) content += "Key" + std::to_string(k) + "=value\r\n";
    }
    qvtest::WriteFile(file, content);
    // How long one writer takes from fork to exit, to spread the kills over it.
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(RunWriter(file, "calibrate", -1));
    const long spanUs = std::max<long>(200, std::chrono::duration_cast<std::chrono::microseconds>(
                                                std::chrono::steady_clock::now() - t0)
                                                    .count() /
                                                5);
    std::string current = qvtest::ReadFile(file);

    std::mt19937 rng(12345);
    std::uniform_int_distribution<long> delay(0, spanUs * 3 / 2);
    int sawOld = 0, sawNew = 0;
    for (int round = 0; round < 250; ++round) {
        const std::string value = "round " + std::to_string(round);
        const std::string next = IniRewrite(current, true, "Section20", "Key25", value);
        RunWriter(file, value, delay(rng));
        const std::string after = qvtest::ReadFile(file);
        ASSERT_TRUE(after == current || after == next)
            << "round " << round << ": neither the old nor the new content";
        (after == current ? sawOld : sawNew)++;
        current = after;
    }
    // Both outcomes happened, so the kills did land inside the writes.
    EXPECT_GT(sawOld, 0);
    EXPECT_GT(sawNew, 0);
    // Leftover temporaries of killed writers are cleared by the next complete write.
    ASSERT_TRUE(IniWriteRaw("Section0", "Key0", "done", file));
    EXPECT_EQ(qvtest::ListDir(dir.Path()), std::vector<std::string>{"Quorvex.ini"});
}
