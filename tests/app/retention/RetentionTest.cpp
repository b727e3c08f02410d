#include "app/retention/Retention.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <set>

#include "tests/support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace qv::retention;

constexpr std::time_t kNow = 1'800'000'000;

// Our pictures and logs among files that are not ours, however old: another program's files,
// near-miss names, a link to a picture elsewhere.
class Folders : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* d : {"detect", "timer", "log", "elsewhere"}) fs::create_directory(At(d));
        for (auto [name, age] : {std::pair{"detect/d2026010100000000.jpg", 5.0},
                                 {"timer/t2026010100000000.jpg", 4},
                                 {"detect/d2026010200000000.jpg", 2},
                                 {"timer/t2026010300000000.jpg", 1},
                                 {"detect/d2026010300000001.jpg", 0.5}})
            Make(name, age, 400'000);
        for (const char* name :
             {"detect/holiday.jpg", "detect/d202601010000000.jpg", "detect/x2026010100000000.jpg",
              "elsewhere/d2026010100000009.jpg", "log/notes.log"})
            Make(name, 50);
        fs::create_symlink(At("elsewhere/d2026010100000009.jpg"),
                           At("detect/d2026010100000009.jpg"));
        Make("log/2026-01-01.log", 5);
        Make("log/2026-01-05.log", 1);
    }
    void TearDown() override {
        if (mounted_) ::umount(At("disk").c_str());
    }
    std::string At(const std::string& rel) const { return root_.File(rel); }
    // A file of `bytes` bytes last written `ageDays` days before kNow.
    void Make(const std::string& rel, double ageDays, size_t bytes = 1000) {
        made_[rel] = {ageDays, bytes};
        qvtest::WriteFile(At(rel), std::string(bytes, 'x'));
        timespec times[2] = {{kNow - std::time_t(ageDays * 86400), 0}, {}};
        times[1] = times[0];
        ASSERT_EQ(::utimensat(AT_FDCWD, At(rel).c_str(), times, 0), 0);
    }
    std::set<std::string> Left() const {
        std::set<std::string> left;
        for (auto& e : fs::recursive_directory_iterator(root_.Path()))
            if (!fs::is_directory(e.symlink_status()))
                left.insert(fs::relative(e.path(), root_.Path()));
        return left;
    }
    Result Run(const Policy& p, const FreeSpaceFn& free = SystemFreeSpace) {
        return CleanUp(p, {At("detect"), At("timer"), At("detect")}, At("log"), kNow, free);
    }
    qvtest::TempDir root_;
    bool mounted_ = false;
    std::map<std::string, std::pair<double, size_t>> made_;
};

TEST_F(Folders, DeletesOnlyOurOwnFilesOldestFirstWithinEachLimit) {
    const struct {
        const char* what;
        Policy policy;
        std::set<std::string> deleted;
    } cases[] = {
        {"nothing set", {}, {}},
        {"days", {3, 0, 0, 0}, {"detect/d2026010100000000.jpg", "timer/t2026010100000000.jpg"}},
        {"size cap: 2 MB in 400 kB pictures, the three oldest across both folders go",
         {0, 1, 0, 0},
         {"detect/d2026010100000000.jpg", "timer/t2026010100000000.jpg",
          "detect/d2026010200000000.jpg"}},
        {"logs", {0, 0, 2, 0}, {"log/2026-01-01.log"}},
    };
    const std::set<std::string> all = Left();
    for (const auto& c : cases) {
        Result r = Run(c.policy);
        std::set<std::string> expected;
        for (const auto& f : all)
            if (!c.deleted.count(f)) expected.insert(f);
        EXPECT_EQ(Left(), expected) << c.what;
        EXPECT_EQ(r.Pictures + r.Logs, static_cast<int>(c.deleted.size())) << c.what;
        for (const auto& f : c.deleted) Make(f, made_[f].first, made_[f].second);
    }
}

TEST_F(Folders, FreeSpaceFloorDeletesUntilTheDiskIsBackAbove) {
    // A disk someone else keeps full: everything of ours goes, and the asking stops.
    int asked = 0;
    Result r = Run({0, 0, 0, 100},
                   [&](const std::string&) { return ++asked, std::optional<uint64_t>(0); });
    EXPECT_EQ(r.Pictures, 5);
    EXPECT_LT(asked, 20);
    // A real small disk: a 2 MiB tmpfs filled with pictures.
    fs::create_directory(At("disk"));
    if (::mount("tmpfs", At("disk").c_str(), "tmpfs", 0, "size=2m") != 0)
        GTEST_SKIP() << "tmpfs needs root";
    mounted_ = true;
    fs::create_directory(At("disk/pics"));
    for (int i = 0; i < 6; ++i)
        Make("disk/pics/d20260101000000" + std::to_string(10 + i) + ".jpg", 6 - i, 300'000);
    ASSERT_LT(*SystemFreeSpace(At("disk")), 512u * 1024);
    r = CleanUp({0, 0, 0, 1}, {At("disk/pics")}, "", kNow);
    EXPECT_GE(*SystemFreeSpace(At("disk")), 1024u * 1024);
    EXPECT_EQ(r.Pictures, 3);  // the three oldest, and no more
    EXPECT_FALSE(fs::exists(At("disk/pics/d2026010100000012.jpg")));
    EXPECT_TRUE(fs::exists(At("disk/pics/d2026010100000013.jpg")));
    EXPECT_NE(r.Summary().find("3 pictures (0.9 MB)"), std::string::npos) << r.Summary();
}

}  // namespace
