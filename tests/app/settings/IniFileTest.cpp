#include "app/settings/IniFile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "tests/support/TestSupport.h"

using namespace std::string_literals;

namespace {

class IniFileTest : public ::testing::Test {
  protected:
    qvtest::TempDir dir_;
    std::string file_ = dir_.File("Quorvex.ini");

    void Put(const std::string& content) { qvtest::WriteFile(file_, content); }
    std::string Content() const { return qvtest::ReadFile(file_); }
    std::string Read(const std::string& section, const std::string& key,
                     const std::string& def = "<default>") {
        return IniReadRaw(section, key, def, file_);
    }
};

}  // namespace

TEST_F(IniFileTest, MissingFileGivesTheDefaultAndWritingCreatesTwoLines) {
    EXPECT_EQ(Read("BasicSettings", "PreviewRate", "3"), "3");
    EXPECT_FALSE(qvtest::FileExists(file_));  // reading creates nothing
    ASSERT_TRUE(IniWriteRaw("BasicSettings", "PreviewRate", "5", file_));
    EXPECT_EQ(Content(), "[BasicSettings]\r\nPreviewRate=5\r\n");
    struct stat st;
    ASSERT_EQ(::stat(file_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(Read("BasicSettings", "PreviewRate"), "5");
}

TEST_F(IniFileTest, SectionAndKeyAreComparedInUpperCase) {
    Put("[basicsettings]\r\nPreviewRate=3\r\n");
    EXPECT_EQ(Read("BasicSettings", "previewrate"), "3");
    ASSERT_TRUE(IniWriteRaw("BASICSETTINGS", "PREVIEWRATE", "4", file_));
    EXPECT_EQ(Content(), "[basicsettings]\r\nPREVIEWRATE=4\r\n");
}

TEST_F(IniFileTest, ValueIsTheUntrimmedLineCutAtTheComment) {
    Put("  [S]  ; header comment\r\nKey=value ; note\r\nEmpty=\r\nBare\r\nPad=  a b  \r\n");
    EXPECT_EQ(Read("S", "Key"), "value ");
    EXPECT_EQ(Read("S", "Empty"), "");
    EXPECT_EQ(Read("S", "Bare"), "");
    EXPECT_EQ(Read("S", "Pad"), "  a b  ");
    // The key is a prefix test: the character after the key is skipped whatever it is.
    Put("[S]\r\nModeX=1\r\n");
    EXPECT_EQ(Read("S", "Mode"), "=1");
}

TEST_F(IniFileTest, IndentedEntryIsNotFoundAndWritingAddsANewLineBeforeTheNextSection) {
    Put("[BasicSettings]\r\n  PreviewRate=3\r\n[Other]\r\nA=1\r\n");
    EXPECT_EQ(Read("BasicSettings", "PreviewRate"), "<default>");
    ASSERT_TRUE(IniWriteRaw("BasicSettings", "PreviewRate", "6", file_));
    EXPECT_EQ(Content(),
              "[BasicSettings]\r\n  PreviewRate=3\r\nPreviewRate=6\r\n[Other]\r\nA=1\r\n");
}

TEST_F(IniFileTest, EntryGoesAtTheEndOfTheLastSection) {
    Put("[A]\r\nx=1\r\n[B]\r\ny=2\r\n");
    ASSERT_TRUE(IniWriteRaw("B", "z", "3", file_));
    EXPECT_EQ(Content(), "[A]\r\nx=1\r\n[B]\r\ny=2\r\nz=3\r\n");
    ASSERT_TRUE(IniWriteRaw("C", "k", "v", file_));
    EXPECT_EQ(Content(), "[A]\r\nx=1\r\n[B]\r\ny=2\r\nz=3\r\n[C]\r\nk=v\r\n");
}

TEST_F(IniFileTest, BlankLinesGoOnlyInsideTheTargetSectionBeforeTheChange) {
    Put("\r\n[A]\r\n\r\n\r\nx=1\r\n\r\ny=2\r\n\r\n[B]\r\n\r\nz=3\r\n");
    ASSERT_TRUE(IniWriteRaw("A", "x", "9", file_));
    EXPECT_EQ(Content(), "\r\n[A]\r\nx=9\r\n\r\ny=2\r\n\r\n[B]\r\n\r\nz=3\r\n");
    // Blank lines are skipped when reading, too.
    EXPECT_EQ(Read("B", "z"), "3");
}

TEST_F(IniFileTest, OnlyTheFirstSectionOfANameIsSearched) {
    Put("[A]\r\nx=1\r\n[B]\r\n[A]\r\ny=2\r\n");
    EXPECT_EQ(Read("A", "x"), "1");
    EXPECT_EQ(Read("A", "y"), "<default>");
    ASSERT_TRUE(IniWriteRaw("A", "y", "3", file_));
    EXPECT_EQ(Content(), "[A]\r\nx=1\r\ny=3\r\n[B]\r\n[A]\r\ny=2\r\n");
}

TEST_F(IniFileTest, CommentsAndUnknownKeysSurviveRewriting) {
    const std::string before =
        "; settings\r\n[A]\r\n; note\r\nUnknown=1\r\nx=1 ; old\r\n[B]; b\r\n";
    Put(before);
    ASSERT_TRUE(IniWriteRaw("A", "x", "2", file_));
    EXPECT_EQ(Content(), "; settings\r\n[A]\r\n; note\r\nUnknown=1\r\nx=2\r\n[B]; b\r\n");
    ASSERT_TRUE(IniWriteRaw("A", "new", "3", file_));
    EXPECT_EQ(Content(), "; settings\r\n[A]\r\n; note\r\nUnknown=1\r\nx=2\r\nnew=3\r\n[B]; b\r\n");
}

TEST_F(IniFileTest, LongValuesAreCutTo255Bytes) {
    std::string v(300, 'v');
    ASSERT_TRUE(IniWriteRaw("S", "K", v, file_));
    EXPECT_EQ(Read("S", "K"), std::string(255, 'v'));
    EXPECT_EQ(IniReadRaw("S", "K", "", file_, 10), std::string(9, 'v'));
    EXPECT_EQ(IniReadRaw("S", "Missing", std::string(300, 'd'), file_), std::string(255, 'd'));
    // The whole value stays in the file.
    EXPECT_NE(Content().find(v), std::string::npos);
}

TEST_F(IniFileTest, TextIsUtf8OutsideAndCp932InTheFile) {
    ASSERT_TRUE(IniWriteString("設定", "名前", "～①\\カメラ", file_));
    EXPECT_EQ(Content(),
              "[\x90\xdd\x92\xe8]\r\n\x96\xbc\x91O=\x81\x60\x87\x40\\\x83J\x83\x81\x83\x89\r\n");
    EXPECT_EQ(IniReadString("設定", "名前", "", file_), "～①\\カメラ");
    // 200 double-byte characters are 400 bytes in the file: 127 whole characters survive, the
    // first half of the 128th is dropped.
    std::string longText;
    for (int i = 0; i < 200; ++i) longText += "あ";
    ASSERT_TRUE(IniWriteString("S", "T", longText, file_));
    std::string expected;
    for (int i = 0; i < 127; ++i) expected += "あ";
    EXPECT_EQ(IniReadString("S", "T", "", file_), expected);
}

TEST_F(IniFileTest, DoubleByteSecondByteIsNotAClosingBracket) {
    // "‐" is 0x81 0x5D: the line "[X‐" has no closing bracket and does not end the section.
    Put("[S]\r\nA=1\r\n[X\x81\x5D\r\nB=2\r\n");
    EXPECT_EQ(Read("S", "B"), "2");
}

TEST_F(IniFileTest, KeyCaseFoldingLeavesDoubleByteCharactersAlone) {
    // "ヂ" (0x83 0x61) must not match a key "ヂ" spelled with 'A' (0x83 0x41 is "ア").
    Put("[S]\r\n\x83\x61=1\r\n");
    EXPECT_EQ(Read("S", "\x83\x41"), "<default>");
    EXPECT_EQ(Read("S", "\x83\x61"), "1");
}

TEST_F(IniFileTest, BadInputReadsAsDocumentedAndOtherLinesSurviveByteForByte) {
    const std::string megabyte(1 << 20, 'm');
    const std::string head =
        "[Junk\r\n"                       // header without its closing bracket
        "\xff\xfe\x80 invalid bytes\r\n"  // not CP932 at all
        "[S]\r\n"
        "Nul=a\0b\r\n"s  // a NUL byte inside a value
        "Long=" +
        megabyte +
        "\r\n"
        "Lead=abc\x82\r\n"  // lone lead byte at the end of a value
        "\xff=x\r\n"
        "Other=1\n";                             // a line ending in LF alone
    const std::string tail = "[T]\r\nLast=end";  // no final line break
    Put(head + tail);

    EXPECT_EQ(Read("S", "Nul"), "a");
    EXPECT_EQ(Read("S", "Long"), std::string(255, 'm'));
    EXPECT_EQ(Read("S", "Lead"), "abc\x82");
    EXPECT_EQ(IniReadString("S", "Lead", "", file_), "abc");
    EXPECT_EQ(Read("S", "Other"), "1");
    EXPECT_EQ(Read("T", "Last"), "end");
    EXPECT_EQ(Read("Junk", "x"), "<default>");

    ASSERT_TRUE(IniWriteRaw("S", "New", "v", file_));
    EXPECT_EQ(Content(), head + "New=v\r\n" + tail);
    ASSERT_TRUE(IniWriteRaw("T", "Added", "w", file_));
    EXPECT_EQ(Content(), head + "New=v\r\n" + tail + "\r\nAdded=w\r\n");
    ASSERT_TRUE(IniWriteRaw("S", "Long", "short", file_));
    std::string shortened = head;
    shortened.replace(shortened.find("Long="), 5 + megabyte.size(), "Long=short");
    EXPECT_EQ(Content(), shortened + "New=v\r\n" + tail + "\r\nAdded=w\r\n");
}

TEST_F(IniFileTest, ValuesWithLineBreaksAreRefusedAndNothingChanges) {
    Put("[S]\r\nA=1\r\n");
    EXPECT_FALSE(IniWriteRaw("S", "A", "1\r\n[Injected]", file_));
    EXPECT_FALSE(IniWriteRaw("S", "A\n", "1", file_));
    EXPECT_EQ(Content(), "[S]\r\nA=1\r\n");
}

TEST_F(IniFileTest, UnwritableFileIsReportedAndLeftAlone) {
    // A folder that does not exist.
    EXPECT_FALSE(IniWriteRaw("S", "A", "1", dir_.File("missing/Quorvex.ini")));
    // A settings "file" that is a folder: the rename fails and no temporary is left behind.
    std::string asDir = dir_.File("dir.ini");
    ASSERT_EQ(::mkdir(asDir.c_str(), 0700), 0);
    EXPECT_FALSE(IniWriteRaw("S", "A", "1", asDir));
    EXPECT_EQ(qvtest::ListDir(dir_.Path()), std::vector<std::string>{"dir.ini"});
    // A FIFO in place of the file neither hangs reading nor is replaced.
    std::string fifo = dir_.File("fifo.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(IniReadRaw("S", "A", "d", fifo), "d");
    EXPECT_FALSE(IniWriteRaw("S", "A", "1", fifo));
    struct stat st;
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// A full disk, played by a file size limit in a child process: the write fails, the old file
// stays whole and the failure is reported.
TEST_F(IniFileTest, FullDiskKeepsTheOldFile) {
    const std::string old = "[S]\r\nA=1\r\n" + std::string(100, ';') + "\r\n";
    Put(old);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit lim{512, 512};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        bool ok = IniWriteRaw("S", "A", std::string(4000, 'x'), file_);
        ::_exit(ok ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the failed write was reported as success";
    EXPECT_EQ(Content(), old);
    EXPECT_EQ(qvtest::ListDir(dir_.Path()), std::vector<std::string>{"Quorvex.ini"});
}

TEST_F(IniFileTest, SymbolicLinkStaysAndItsTargetIsUpdated) {
    std::string target = dir_.File("real.ini");
    qvtest::WriteFile(target, "[S]\r\nA=1\r\n");
    ASSERT_EQ(::symlink(target.c_str(), file_.c_str()), 0);
    ASSERT_TRUE(IniWriteRaw("S", "A", "2", file_));
    struct stat st;
    ASSERT_EQ(::lstat(file_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(qvtest::ReadFile(target), "[S]\r\nA=2\r\n");
}

TEST_F(IniFileTest, LeftoversOfKilledWritersAreRemoved) {
    Put("[S]\r\nA=1\r\n");
    qvtest::WriteFile(dir_.File(".Quorvex.ini.tmpAbC123"), "half");
    qvtest::WriteFile(dir_.File(".Other.ini.tmpAbC123"), "not ours");
    ASSERT_TRUE(IniWriteRaw("S", "A", "2", file_));
    EXPECT_EQ(qvtest::ListDir(dir_.Path()),
              (std::vector<std::string>{".Other.ini.tmpAbC123", "Quorvex.ini"}));
}

// Two processes writing at once (the program and a config command) lose no key.
TEST_F(IniFileTest, ConcurrentWritersLoseNothing) {
    constexpr int kKeys = 40;
    pid_t pids[2];
    for (int p = 0; p < 2; ++p) {
        pids[p] = ::fork();
        ASSERT_GE(pids[p], 0);
        if (pids[p] == 0) {
            bool ok = true;
            for (int k = 0; k < kKeys; ++k)
                ok = IniWriteRaw("S", "P" + std::to_string(p) + "K" + std::to_string(k), "v",
                                 file_) &&
                     ok;
            ::_exit(ok ? 0 : 1);
        }
    }
    for (pid_t pid : pids) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::string content = Content();
    for (int p = 0; p < 2; ++p)
        for (int k = 0; k < kKeys; ++k)
            EXPECT_NE(
                content.find("\r\nP" + std::to_string(p) + "K" + std::to_string(k) + "=v\r\n"),
                std::string::npos)
                << p << " " << k;
}
