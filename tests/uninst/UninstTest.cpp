#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/registry/Registry.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TestSupport.h"

// Without an absolute folder no file is touched (not even relative to the working folder).
// Otherwise the log folder's own files go, nothing is reached through a symbolic link, and a
// subfolder keeps the log folder. The key goes either way; only the entry points are exported.
// Runs under a temporary home, loading the shared library as the uninstaller does.
TEST(Uninst, RemovesOnlyTheProgramsOwnFiles) {
    qvtest::TempDir home;
    const std::string install = home.Path() + "/Quorvex";
    auto Has = [&](const std::string& relative) {
        struct stat st;
        return ::lstat((home.Path() + relative).c_str(), &st) == 0;
    };
    setenv("XDG_CONFIG_HOME", (home.Path() + "/.config").c_str(), 1);
    std::unique_ptr<void, int (*)(void*)> lib{dlopen(QUORVEX_UNINSTQV_LIBRARY, RTLD_NOW), dlclose};
    ASSERT_TRUE(lib) << dlerror();
    auto init = reinterpret_cast<int (*)()>(dlsym(lib.get(), "UninstInitialize"));
    ASSERT_NE(init, nullptr);
    EXPECT_EQ(dlsym(lib.get(), "QvRegGetValue"), nullptr);
    for (const char* d : {"/Quorvex", "/Quorvex/log", "/elsewhere"})
        ::mkdir((home.Path() + d).c_str(), 0700);
    for (const char* f : {"/Quorvex/log/1.log", "/Quorvex/Quorvex.ini", "/Quorvex/quorvex",
                          "/Quorvex/web-cert.pem", "/Quorvex/web-key.pem", "/elsewhere/keep.txt"})
        qvtest::WriteFile(home.Path() + f, "x");
    for (const char* folder : {"", "Quorvex", "."}) {
        ASSERT_TRUE(QvRegSetValue(QV_REG_PRODUCT_KEY, "Directory", folder));
        ASSERT_EQ(::chdir(install.c_str()), 0);
        EXPECT_EQ(init(), 0);
        ASSERT_EQ(::chdir("/"), 0);
        EXPECT_TRUE(Has("/Quorvex/log/1.log") && Has("/Quorvex/Quorvex.ini")) << folder;
        EXPECT_FALSE(QvRegKeyExists(QV_REG_PRODUCT_KEY));
    }
    ASSERT_EQ(::symlink((home.Path() + "/elsewhere/keep.txt").c_str(),
                        (install + "/log/link.log").c_str()),
              0);
    ::mkdir((install + "/log/old").c_str(), 0700);
    ASSERT_TRUE(QvRegSetValue(QV_REG_PRODUCT_KEY, "Directory", install.c_str()));
    EXPECT_EQ(init(), 0);
    EXPECT_EQ(qvtest::ListDir(install + "/log"), std::vector<std::string>{"old"});
    EXPECT_TRUE(Has("/elsewhere/keep.txt") && Has("/Quorvex/quorvex"));
    EXPECT_FALSE(Has("/Quorvex/Quorvex.ini") || Has("/Quorvex/web-cert.pem") ||
                 Has("/Quorvex/web-key.pem"));
    ::rmdir((install + "/log/old").c_str());
    ::rmdir((install + "/log").c_str());
    ASSERT_EQ(::symlink((home.Path() + "/elsewhere").c_str(), (install + "/log").c_str()), 0);
    ASSERT_TRUE(QvRegSetValue(QV_REG_PRODUCT_KEY, "Directory", install.c_str()));
    EXPECT_EQ(init(), 0);
    EXPECT_TRUE(Has("/elsewhere/keep.txt"));
    unsetenv("XDG_CONFIG_HOME");
}

// The real install, moved elsewhere: it finds its data beside itself, registers the folder the
// program uses, and its uninstaller then leaves no file behind.
TEST(UninstPrograms, MovedInstallRegistersRunsAndUninstallsCompletely) {
    qvtest::TempDir dir;
    const std::string first = dir.Path() + "/first", moved = dir.Path() + "/moved";
    const std::map<std::string, std::string> env = {{"HOME", dir.Path()},
                                                    {"PATH", "/usr/bin:/bin"}};
    auto install =
        qvtest::RunProgram({QUORVEX_CMAKE, "--install", QUORVEX_BUILD_DIR, "--prefix", first}, env);
    ASSERT_EQ(install.ExitCode, 0) << install.Err;
    ASSERT_EQ(::rename(first.c_str(), moved.c_str()), 0);

    auto help = qvtest::RunProgram({moved + "/bin/quorvex", "--help"}, env);
    EXPECT_NE(help.Out.find("Data files: " + moved + "/share/quorvex/\n"), std::string::npos)
        << help.Out;
    EXPECT_EQ(qvtest::RunProgram({moved + "/bin/quorvex-register", "a", "b"}, env).ExitCode, 2);
    auto reg = qvtest::RunProgram({moved + "/bin/quorvex-register"}, env);
    ASSERT_EQ(reg.ExitCode, 0) << reg.Err;
    const std::string keyFile =
        dir.Path() + "/.config/quorvex/registry/Software/Kelvar/TavorinSekuvo.key";
    // A writable program folder is a portable install: settings and logs live beside it.
    EXPECT_NE(qvtest::ReadFile(keyFile).find("Directory=" + moved + "/bin/\n"), std::string::npos);
    auto set = qvtest::RunProgram(
        {moved + "/bin/quorvex", "config", "set", "BasicSettings", "PreviewRate", "5"}, env);
    ASSERT_EQ(set.ExitCode, 0) << set.Err;
    ::mkdir((moved + "/bin/log").c_str(), 0700);
    qvtest::WriteFile(moved + "/bin/log/2026-12-06.log", "log");

    auto un = qvtest::RunProgram({moved + "/bin/quorvex-uninstall"}, env);
    EXPECT_EQ(un.ExitCode, 0) << un.Out << un.Err;
    EXPECT_FALSE(qvtest::FileExists(keyFile));
    for (const auto& e : std::filesystem::recursive_directory_iterator(moved))
        EXPECT_TRUE(e.is_directory()) << e.path() << " was left behind";
    EXPECT_FALSE(qvtest::FileExists(moved + "/share/quorvex"));
}
