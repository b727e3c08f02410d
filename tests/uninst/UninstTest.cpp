#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "platform/registry/Registry.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TestSupport.h"
#include "uninst/UninstQv.h"

namespace {

struct LibraryCloser {
    void operator()(void* h) const { dlclose(h); }
};

// The shared library as the uninstaller loads it, under a temporary home.
class Uninst : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", (home.Path() + "/.config").c_str(), 1);
        lib.reset(dlopen(QUORVEX_UNINSTQV_LIBRARY, RTLD_NOW | RTLD_LOCAL));
        ASSERT_TRUE(lib) << dlerror();
        init = reinterpret_cast<int (*)()>(dlsym(lib.get(), "UninstInitialize"));
        ASSERT_NE(init, nullptr);
        ::mkdir(install.c_str(), 0700);
        ::mkdir((install + "/log").c_str(), 0700);
        qvtest::WriteFile(install + "/log/2026-12-01.log", "x");
        qvtest::WriteFile(install + "/log/2026-12-02.log", "y");
        qvtest::WriteFile(install + "/Quorvex.ini", "[BasicSettings]\n");
        qvtest::WriteFile(install + "/quorvex", "program");
        for (const char* pem : {"/web-cert.pem", "/web-key.pem"})
            qvtest::WriteFile(install + pem, "pem");
    }
    void TearDown() override { unsetenv("XDG_CONFIG_HOME"); }
    std::string KeyFile() const {
        return home.Path() + "/.config/quorvex/registry/Software/Kelvar/TavorinSekuvo.key";
    }

    qvtest::TempDir home;
    std::string install = home.Path() + "/Quorvex";
    std::unique_ptr<void, LibraryCloser> lib;
    int (*init)() = nullptr;
};

TEST_F(Uninst, ExportsOnlyThePlainEntryPoints) {
    auto uninit = reinterpret_cast<int (*)()>(dlsym(lib.get(), "UninstUnInitialize"));
    auto libMain =
        reinterpret_cast<int (*)(void*, unsigned long, void*)>(dlsym(lib.get(), "LibMain"));
    ASSERT_NE(uninit, nullptr);
    ASSERT_NE(libMain, nullptr);
    EXPECT_EQ(uninit(), 0);
    for (unsigned long reason : {0ul, 1ul, 2ul, 3ul})
        EXPECT_EQ(libMain(nullptr, reason, nullptr), 1);
    EXPECT_EQ(dlsym(lib.get(), "QvRegGetValue"), nullptr);
    EXPECT_EQ(dlsym(lib.get(), "UninstLogFolder"), nullptr);
}

TEST_F(Uninst, NoKeyTouchesNothing) {
    EXPECT_EQ(init(), 0);
    EXPECT_TRUE(qvtest::FileExists(install + "/log/2026-12-01.log"));
    EXPECT_TRUE(qvtest::FileExists(install + "/Quorvex.ini"));
    EXPECT_TRUE(qvtest::FileExists(install + "/web-key.pem"));
}

TEST_F(Uninst, KeyWithoutDirectoryIsDeletedAndNoFileTouched) {
    ASSERT_TRUE(QvRegSetValue(QV_REG_PRODUCT_KEY, "InfoNo", "4"));
    // Run from inside the installation: nothing relative to the working folder is removed.
    char old[4096];
    ASSERT_NE(::getcwd(old, sizeof old), nullptr);
    ASSERT_EQ(::chdir(install.c_str()), 0);
    EXPECT_EQ(init(), 0);
    ASSERT_EQ(::chdir(old), 0);
    EXPECT_TRUE(qvtest::FileExists(install + "/log/2026-12-01.log"));
    EXPECT_TRUE(qvtest::FileExists(install + "/Quorvex.ini"));
    EXPECT_FALSE(qvtest::FileExists(KeyFile()));
    EXPECT_FALSE(QvRegKeyExists(QV_REG_PRODUCT_KEY));
}

TEST_F(Uninst, RemovesLogFolderSettingsAndKey) {
    ASSERT_TRUE(QvRegSetValue(QV_REG_PRODUCT_KEY, "InfoNo", "4"));
    ASSERT_TRUE(QvRegSetValue(QV_REG_PRODUCT_KEY, "Directory", (install + "/").c_str()));
    EXPECT_EQ(init(), 0);
    EXPECT_FALSE(qvtest::FileExists(install + "/log"));
    EXPECT_FALSE(qvtest::FileExists(install + "/Quorvex.ini"));
    EXPECT_FALSE(qvtest::FileExists(install + "/web-cert.pem"));
    EXPECT_FALSE(qvtest::FileExists(install + "/web-key.pem"));
    EXPECT_TRUE(qvtest::FileExists(install + "/quorvex"));  // installed files are not its business
    EXPECT_EQ(qvtest::ListDir(home.Path() + "/.config"), std::vector<std::string>{});
}

TEST_F(Uninst, SubfolderKeepsTheLogFolder) {
    ::mkdir((install + "/log/old").c_str(), 0700);
    qvtest::WriteFile(install + "/log/old/2025-01-01.log", "z");
    ASSERT_TRUE(QvRegSetValue(QV_REG_PRODUCT_KEY, "Directory", install.c_str()));
    EXPECT_EQ(init(), 0);
    EXPECT_EQ(qvtest::ListDir(install + "/log"), std::vector<std::string>{"old"});
    EXPECT_TRUE(qvtest::FileExists(install + "/log/old/2025-01-01.log"));
    EXPECT_FALSE(qvtest::FileExists(install + "/Quorvex.ini"));
    EXPECT_FALSE(QvRegKeyExists(QV_REG_PRODUCT_KEY));
}

TEST(UninstPaths, OneSeparatorAndOnlyAbsoluteFolders) {
    char out[300];
    ASSERT_TRUE(UninstLogFolder("/opt/quorvex/", out, sizeof out));
    EXPECT_STREQ(out, "/opt/quorvex/log/");
    ASSERT_TRUE(UninstLogFolder("/opt/quorvex", out, sizeof out));
    EXPECT_STREQ(out, "/opt/quorvex/log/");
    ASSERT_TRUE(UninstSettingsFile("/opt/quorvex/", out, sizeof out));
    EXPECT_STREQ(out, "/opt/quorvex/Quorvex.ini");
    EXPECT_FALSE(UninstLogFolder("", out, sizeof out));
    EXPECT_FALSE(UninstLogFolder("relative/dir", out, sizeof out));
    EXPECT_FALSE(UninstLogFolder(std::string(400, '/').c_str(), out, sizeof out));
}

TEST(UninstPrograms, RegisterThenUninstallLeavesNothingBehind) {
    qvtest::TempDir home;
    const std::string prefix = home.Path() + "/prefix";
    const std::string programFolder = home.Path() + "/.local/share/Quorvex";
    const std::map<std::string, std::string> env = {{"HOME", home.Path()},
                                                    {"PATH", "/usr/bin:/bin"}};
    auto reg = qvtest::RunProgram({QUORVEX_REGISTER_PROGRAM}, env);
    ASSERT_EQ(reg.ExitCode, 0) << reg.Err;
    const std::string keyFile =
        home.Path() + "/.config/quorvex/registry/Software/Kelvar/TavorinSekuvo.key";
    EXPECT_NE(qvtest::ReadFile(keyFile).find("Directory=" + programFolder + "\n"),
              std::string::npos);

    // What the program and an install would have left.
    for (const char* d : {"/.local", "/.local/share", "/.local/share/Quorvex",
                          "/.local/share/Quorvex/log", "/prefix", "/prefix/bin", "/prefix/share",
                          "/prefix/share/quorvex", "/prefix/share/quorvex/img"})
        ::mkdir((home.Path() + d).c_str(), 0700);
    qvtest::WriteFile(programFolder + "/log/2026-12-06.log", "log");
    qvtest::WriteFile(programFolder + "/Quorvex.ini", "ini");
    std::string manifest;
    for (const char* f :
         {"/bin/quorvex", "/share/quorvex/img/back.bmp", "/share/quorvex/help.html"}) {
        qvtest::WriteFile(prefix + f, "data");
        manifest += prefix + f + "\n";
    }
    qvtest::WriteFile(prefix + "/share/quorvex/install-manifest.txt", manifest);

    auto un = qvtest::RunProgram({QUORVEX_UNINSTALL_PROGRAM, "--library", QUORVEX_UNINSTQV_LIBRARY,
                                  "--manifest", prefix + "/share/quorvex/install-manifest.txt"},
                                 env);
    EXPECT_EQ(un.ExitCode, 0) << un.Out << un.Err;
    EXPECT_FALSE(qvtest::FileExists(keyFile));
    EXPECT_FALSE(qvtest::FileExists(programFolder + "/log"));
    EXPECT_FALSE(qvtest::FileExists(programFolder + "/Quorvex.ini"));
    EXPECT_FALSE(qvtest::FileExists(prefix + "/share/quorvex"));
    EXPECT_FALSE(qvtest::FileExists(prefix + "/bin/quorvex"));
    EXPECT_TRUE(qvtest::FileExists(prefix + "/bin"));  // not the program's own folder
    EXPECT_FALSE(qvtest::FileExists(home.Path() + "/.config/quorvex"));

    auto bad = qvtest::RunProgram({QUORVEX_REGISTER_PROGRAM, "relative-but-missing"}, env);
    EXPECT_NE(bad.ExitCode, 0);
}

}  // namespace
