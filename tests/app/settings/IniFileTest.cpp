#include "app/settings/IniFile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>

#include "tests/support/TestSupport.h"

using namespace std::string_literals;

namespace {

class IniFileTest : public ::testing::Test {
  protected:
    qvtest::TempDir dir_;
    std::string file_ = dir_.File("Quorvex.ini");
    std::string Read(const std::string& section, const std::string& key) {
        return IniReadRaw(section, key, "<default>", file_);
    }
};

// Runs write in a child process; Reaped tells whether it exited saying true.
template <class F>
pid_t Fork(F write) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(write() ? 0 : 1);
    return pid;
}
bool Reaped(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct IniCase {
    std::string Before, Section, Key, Value, After{};  // Value read (Before) or written (After)
};

// Every rule of the rewrite: names in upper case, entry in place or at the section's end,
// blank lines of the target section dropped, everything else kept byte for byte.
const IniCase kWrites[] = {
    {"", "BasicSettings", "PreviewRate", "5", "[BasicSettings]\r\nPreviewRate=5\r\n"},
    {"[basicsettings]\r\nPreviewRate=3\r\n", "BASICSETTINGS", "PREVIEWRATE", "4",
     "[basicsettings]\r\nPREVIEWRATE=4\r\n"},
    {"[B]\r\n  K=3\r\n[O]\r\nA=1\r\n", "B", "K", "6", "[B]\r\n  K=3\r\nK=6\r\n[O]\r\nA=1\r\n"},
    {"[A]\r\nx=1\r\n[B]\r\ny=2\r\n", "B", "z", "3", "[A]\r\nx=1\r\n[B]\r\ny=2\r\nz=3\r\n"},
    {"[A]\r\nx=1\r\n", "C", "k", "v", "[A]\r\nx=1\r\n[C]\r\nk=v\r\n"},
    {"\r\n[A]\r\n\r\n\r\nx=1\r\n\r\ny=2\r\n\r\n[B]\r\n\r\nz=3\r\n", "A", "x", "9",
     "\r\n[A]\r\nx=9\r\n\r\ny=2\r\n\r\n[B]\r\n\r\nz=3\r\n"},
    {"[A]\r\nx=1\r\n[B]\r\n[A]\r\ny=2\r\n", "A", "y", "3",
     "[A]\r\nx=1\r\ny=3\r\n[B]\r\n[A]\r\ny=2\r\n"},
    {"; c\r\n[A]\r\n; n\r\nU=1\r\nx=1 ; o\r\n[B]; b\r\n", "A", "x", "2",
     "; c\r\n[A]\r\n; n\r\nU=1\r\nx=2\r\n[B]; b\r\n"},
    {"[Junk\r\n\xff\xfe\x80\r\n[S]\r\nN=a\0b\r\nL=abc\x82\r\nO=1\n[T]\r\nLast=end"s, "T", "Add",
     "w",
     "[Junk\r\n\xff\xfe\x80\r\n[S]\r\nN=a\0b\r\nL=abc\x82\r\nO=1\n[T]\r\nLast=end\r\nAdd=w\r\n"s},
};

// Reading: the untrimmed value cut at ";" or NUL, the key as a prefix, only the first section
// of a name, a double-byte character's second byte 0x5D is no bracket, case folding leaves
// double-byte characters alone.
const IniCase kReads[] = {
    {"  [S]  ; c\r\nKey=value ; note\r\n", "S", "Key", "value "},
    {"[S]\r\nPad=  a b  \r\nBare\r\n", "S", "Pad", "  a b  "},
    {"[S]\r\nBare\r\n", "S", "Bare", ""},
    {"[S]\r\nModeX=1\r\n", "S", "Mode", "=1"},
    {"[A]\r\nx=1\r\n[B]\r\n[A]\r\ny=2\r\n", "A", "y", "<default>"},
    {"[S]\r\nA=1\r\n[X\x81\x5D\r\nB=2\r\n", "S", "B", "2"},
    {"[S]\r\n\x83\x61=1\r\n", "S", "\x83\x41", "<default>"},
    {"[S]\r\nN=a\0b\r\n"s, "S", "N", "a"},
    {"[S]\r\nO=1\n[T]\r\nLast=end", "T", "Last", "end"},
    {"[Junk\r\nx=1\r\n", "Junk", "x", "<default>"},
};

}  // namespace

TEST_F(IniFileTest, RewriteAndLookupRules) {
    for (const IniCase& c : kWrites) {
        c.Before.empty() ? void(::unlink(file_.c_str())) : qvtest::WriteFile(file_, c.Before);
        ASSERT_TRUE(IniWriteRaw(c.Section, c.Key, c.Value, file_)) << c.After;
        EXPECT_EQ(qvtest::ReadFile(file_), c.After);
        EXPECT_EQ(Read(c.Section, c.Key), c.Value);
    }
    struct stat st;
    ASSERT_EQ(::stat(file_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    for (const IniCase& c : kReads) {
        qvtest::WriteFile(file_, c.Before);
        EXPECT_EQ(Read(c.Section, c.Key), c.Value) << c.Before;
    }
    EXPECT_EQ(IniReadRaw("S", "K", "d", dir_.File("missing.ini")), "d");
}

// CP932 in the file is checked through the program's config command.
TEST_F(IniFileTest, TextIsCutTo255Bytes) {
    std::string kana, kept;
    for (int i = 0; i < 200; ++i) kana += "あ", kept += i < 127 ? "あ" : "";
    ASSERT_TRUE(IniWriteString("S", "T", kana, file_));
    EXPECT_EQ(IniReadString("S", "T", "", file_), kept);  // half a character is dropped
    EXPECT_EQ(IniReadRaw("S", "T", "", file_, 10).size(), 9u);
}

// Refused or failed writes leave every file as it was and no temporary behind; a full disk is
// played by a file size limit in a child.
TEST_F(IniFileTest, FailedWritesChangeNothing) {
    const std::string old = "[S]\r\nA=1\r\n";
    qvtest::WriteFile(file_, old);
    EXPECT_TRUE(Reaped(Fork([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit lim{8, 8};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        return !IniWriteRaw("S", "A", "longer than eight bytes", file_);
    }))) << "reported as written";
    EXPECT_FALSE(IniWriteRaw("S", "A", "1\r\n[Injected]", file_));
    EXPECT_FALSE(IniWriteRaw("S", "A\n", "1", file_));
    EXPECT_FALSE(IniWriteRaw("S", "A", "1", dir_.File("missing/Quorvex.ini")));
    ASSERT_EQ(::mkdir(dir_.File("dir.ini").c_str(), 0700), 0);
    EXPECT_FALSE(IniWriteRaw("S", "A", "1", dir_.File("dir.ini")));
    const std::string fifo = dir_.File("fifo.ini");  // neither hangs nor is replaced
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(IniReadRaw("S", "A", "d", fifo), "d");
    EXPECT_FALSE(IniWriteRaw("S", "A", "1", fifo));
    ASSERT_EQ(::chmod(file_.c_str(), 0400), 0);  // made read-only by its owner: said once
    testing::internal::CaptureStderr();
    EXPECT_FALSE(IniWriteRaw("S", "A", "2", file_) || IniWriteRaw("S", "B", "2", file_));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.find("read-only"), said.rfind("read-only")) << said;
    EXPECT_NE(said.find("read-only"), std::string::npos);
    struct stat st;
    ASSERT_EQ(::stat(file_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0400u);
    EXPECT_EQ(qvtest::ReadFile(file_), old);
    EXPECT_EQ(qvtest::ListDir(dir_.Path()),
              (std::vector<std::string>{"Quorvex.ini", "dir.ini", "fifo.ini"}));
}

// A link stays a link and its target is updated; two processes writing at once (the program
// and a config command) lose no key.
TEST_F(IniFileTest, LinksStayAndConcurrentWritersLoseNothing) {
    qvtest::WriteFile(dir_.File("real.ini"), "");
    ASSERT_EQ(::symlink(dir_.File("real.ini").c_str(), file_.c_str()), 0);
    auto writer = [&](int first) {
        return Fork([&] {
            bool ok = true;
            for (int k = first; k < first + 40; ++k)
                ok = IniWriteRaw("S", std::to_string(k), "v", file_) && ok;
            return ok;
        });
    };
    const pid_t a = writer(1000), b = writer(1100);
    EXPECT_TRUE(Reaped(a) && Reaped(b));
    for (int k = 0; k < 40; ++k)
        EXPECT_EQ(Read("S", std::to_string(1000 + k)) + Read("S", std::to_string(1100 + k)), "vv");
    struct stat st;
    ASSERT_EQ(::lstat(file_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

// A writer killed at any moment leaves the settings file either as it was or as it was meant
// to become, never half written or missing. With killAfterUs >= 0 the writer is killed after
// that long; true when it ended by itself.
static bool RunWriter(const std::string& file, const std::string& value, long killAfterUs) {
    const pid_t pid = Fork([&] { return IniWriteRaw("Section20", "Key25", value, file); });
    timespec ts{killAfterUs / 1000000, (killAfterUs % 1000000) * 1000};
    if (killAfterUs >= 0 && ::nanosleep(&ts, nullptr) == 0) ::kill(pid, SIGKILL);
    return Reaped(pid);
}

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
    const auto span = std::chrono::steady_clock::now() - t0;
    const long spanUs = std::max<long>(200, span / std::chrono::microseconds(1) / 5);
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
