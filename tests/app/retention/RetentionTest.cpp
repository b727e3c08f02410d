#include "app/retention/Retention.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace qv::retention;

constexpr std::time_t kNow = 1'800'000'000;
constexpr int64_t kDay = 86400;

class Folders : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/qvretention-XXXXXX";
        root_ = ::mkdtemp(tmpl);
        for (const char* d : {"detect", "timer", "log", "elsewhere"})
            fs::create_directory(root_ / d);
    }
    void TearDown() override {
        if (mounted_) ::umount(mountPoint_.c_str());
        fs::remove_all(root_);
    }
    // A file of `bytes` bytes last written `ageDays` days before kNow.
    void Make(const std::string& rel, double ageDays, size_t bytes = 1000) {
        fs::path p = root_ / rel;
        std::ofstream(p, std::ios::binary) << std::string(bytes, 'x');
        timespec times[2];
        times[0].tv_sec = times[1].tv_sec = kNow - static_cast<std::time_t>(ageDays * kDay);
        times[0].tv_nsec = times[1].tv_nsec = 0;
        ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
    }
    std::set<std::string> Left() const {
        std::set<std::string> left;
        for (auto& e : fs::recursive_directory_iterator(root_))
            if (!fs::is_directory(e.symlink_status())) left.insert(fs::relative(e.path(), root_));
        return left;
    }
    Result Run(const Policy& p, const FreeSpaceFn& free = SystemFreeSpace) {
        return CleanUp(p, {root_ / "detect", root_ / "timer", root_ / "detect"}, root_ / "log",
                       kNow, free);
    }
    fs::path root_;
    std::string mountPoint_;
    bool mounted_ = false;
};

TEST_F(Folders, DeletesOnlyOurOwnFilesOldestFirstWithinEachLimit) {
    struct Case {
        const char* what;
        Policy policy;
        std::set<std::string> deleted;
    } cases[] = {
        {"nothing set", {}, {}},
        {"days", {3, 0, 0, 0}, {"detect/d2026010100000000.jpg", "timer/t2026010100000000.jpg"}},
        {"size cap: oldest first across both folders", {0, 0, 0, 0}, {}},
        {"logs", {0, 0, 2, 0}, {"log/2026-01-01.log"}},
    };
    cases[2].policy.PictureMegabytes = 1;  // 2 MB in 400 kB pictures: the three oldest go
    cases[2].deleted = {"detect/d2026010100000000.jpg", "timer/t2026010100000000.jpg",
                        "detect/d2026010200000000.jpg"};
    for (const Case& c : cases) {
        SetUp();
        Make("detect/d2026010100000000.jpg", 5, 400'000);
        Make("timer/t2026010100000000.jpg", 4, 400'000);
        Make("detect/d2026010200000000.jpg", 2, 400'000);
        Make("timer/t2026010300000000.jpg", 1, 400'000);
        Make("detect/d2026010300000001.jpg", 0.5, 400'000);
        // Not ours, however old: another program's files, near-miss names, a link.
        Make("detect/holiday.jpg", 50);
        Make("detect/d202601010000000.jpg", 50);
        Make("detect/x2026010100000000.jpg", 50);
        Make("elsewhere/d2026010100000009.jpg", 50);
        fs::create_symlink(root_ / "elsewhere/d2026010100000009.jpg",
                           root_ / "detect/d2026010100000009.jpg");
        Make("log/2026-01-01.log", 5);
        Make("log/2026-01-05.log", 1);
        Make("log/notes.log", 50);
        std::set<std::string> before = Left();
        Result r = Run(c.policy);
        std::set<std::string> expected;
        for (const auto& f : before)
            if (!c.deleted.count(f)) expected.insert(f);
        EXPECT_EQ(Left(), expected) << c.what;
        EXPECT_EQ(r.Pictures + r.Logs, static_cast<int>(c.deleted.size())) << c.what;
        TearDown();
    }
}

TEST_F(Folders, FreeSpaceFloorDeletesUntilTheDiskIsBackAbove) {
    // A real small disk: a 2 MiB tmpfs filled with pictures.
    mountPoint_ = root_ / "disk";
    fs::create_directory(mountPoint_);
    if (::mount("tmpfs", mountPoint_.c_str(), "tmpfs", 0, "size=2m") != 0)
        GTEST_SKIP() << "tmpfs needs root";
    mounted_ = true;
    fs::create_directory(mountPoint_ + "/pics");
    for (int i = 0; i < 6; ++i)
        Make("disk/pics/d20260101000000" + std::to_string(10 + i) + ".jpg", 6 - i, 300'000);
    const uint64_t before = *SystemFreeSpace(mountPoint_);
    ASSERT_LT(before, 512u * 1024);
    Result r = CleanUp({0, 0, 0, 1}, {mountPoint_ + "/pics"}, "", kNow);
    EXPECT_GE(*SystemFreeSpace(mountPoint_), 1024u * 1024);
    EXPECT_EQ(r.Pictures, 3);  // the three oldest, and no more
    EXPECT_FALSE(fs::exists(mountPoint_ + "/pics/d2026010100000012.jpg"));
    EXPECT_TRUE(fs::exists(mountPoint_ + "/pics/d2026010100000013.jpg"));
    EXPECT_NE(r.Summary().find("3 pictures (0.9 MB)"), std::string::npos) << r.Summary();
}

TEST_F(Folders, FreeSpaceFloorStopsWhenNothingOfOursIsLeft) {
    Make("detect/d2026010100000000.jpg", 5, 1000);
    int asked = 0;
    Result r = Run({0, 0, 0, 100}, [&](const std::string&) {
        ++asked;
        return std::optional<uint64_t>(0);  // a disk someone else keeps full
    });
    EXPECT_EQ(r.Pictures, 1);
    EXPECT_LT(asked, 10);
}

}  // namespace
