// The private temporary folder, the single-instance lock and publishing under a final name.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "app/engine/Files.h"
#include "tests/support/TestSupport.h"

using namespace qv::engine;

namespace {

TEST(TempFolderTest, MadePrivateAndRemovedWithItsFilesOrMissingWhenUnmakeable) {
    qvtest::TempDir parent;
    std::string path;
    {
        TempFolder temp;
        ASSERT_TRUE(temp.Create(parent.Path()));
        path = temp.Path();
        EXPECT_EQ(path.rfind(parent.Path(), 0), 0u);
        qvtest::WriteFile(temp.File("QVTmp100.___"), "frame");
    }
    EXPECT_FALSE(qvtest::FileExists(path));
    EXPECT_TRUE(qvtest::ListDir(parent.Path()).empty());
    TempFolder temp;
    EXPECT_FALSE(temp.Create("/proc/no-such-place"));
    EXPECT_FALSE(temp.Exists());
    EXPECT_FALSE(qvtest::FileExists(temp.Path()));
}

TEST(InstanceLockTest, SecondHolderIsRefusedUntilTheFirstEnds) {
    qvtest::TempDir runtime;
    setenv("XDG_RUNTIME_DIR", runtime.Path().c_str(), 1);
    auto first = std::make_unique<InstanceLock>();
    ASSERT_TRUE(first->Acquire());
    const pid_t pid = fork();  // another process is refused
    if (pid == 0) _exit(InstanceLock().Acquire() ? 1 : 0);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    first.reset();
    EXPECT_TRUE(InstanceLock().Acquire());
    unsetenv("XDG_RUNTIME_DIR");
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
