// The private temporary folder and publishing under a final name.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "app/engine/Files.h"
#include "tests/support/TestSupport.h"

using namespace qv::engine;

namespace {

// A folder that cannot be made is no folder: nothing is written under a missing path. (The made
// one and the single-instance lock are checked on the running program.)
TEST(TempFolderTest, UnmakeableFolderNamesAMissingOne) {
    TempFolder temp;
    EXPECT_FALSE(temp.Create("/proc/no-such-place"));
    EXPECT_FALSE(temp.Exists());
    EXPECT_FALSE(qvtest::FileExists(temp.Path()));
}

// A taken name, a missing source or folder, and a full disk: nothing is overwritten and no work
// file is left.
TEST(PublishCopyTest, NeverOverwritesAndLeavesNoWorkFile) {
    qvtest::TempDir dir;
    qvtest::WriteFile(dir.File("src"), std::string(100000, 'j'));
    qvtest::WriteFile(dir.File("pic.jpg"), "old picture");
    EXPECT_EQ(PublishCopy(dir.File("src"), dir.Path(), "pic.jpg"), PublishResult::NameTaken);
    EXPECT_EQ(qvtest::ReadFile(dir.File("pic.jpg")), "old picture");
    EXPECT_EQ(PublishCopy(dir.File("missing"), dir.Path(), "pic3.jpg"), PublishResult::Failed);
    EXPECT_EQ(PublishCopy(dir.File("src"), dir.File("nofolder"), "pic3.jpg"),
              PublishResult::Failed);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    const PublishResult r = PublishCopy(dir.File("src"), dir.Path(), "pic3.jpg");
    const bool copied = CopyFileReplacing(dir.File("src"), dir.File("copy"));
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(r, PublishResult::Failed);
    EXPECT_FALSE(copied);
    EXPECT_EQ(qvtest::ListDir(dir.Path()), (std::vector<std::string>{"pic.jpg", "src"}));
    EXPECT_EQ(PublishCopy(dir.File("src"), dir.Path(), "pic2.jpg"), PublishResult::Published);
    EXPECT_EQ(qvtest::ReadFile(dir.File("pic2.jpg")), qvtest::ReadFile(dir.File("src")));
}

}  // namespace
