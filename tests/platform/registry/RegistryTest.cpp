#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "platform/registry/Registry.h"
#include "tests/support/TestSupport.h"

namespace {

class Registry : public ::testing::Test {
  protected:
    void SetUp() override { setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1); }
    void TearDown() override { unsetenv("XDG_CONFIG_HOME"); }
    std::string Get(const char* name) {
        char buf[256];
        return QvRegGetValue(QV_REG_PRODUCT_KEY, name, buf, sizeof buf) ? buf : "<none>";
    }
    std::string KeyFile() const {
        return config.Path() + "/quorvex/registry/Software/Kelvar/TavorinSekuvo.key";
    }
    qvtest::TempDir config;
};

TEST_F(Registry, ValuesLiveInOnePrivateFilePerKey) {
    EXPECT_FALSE(QvRegKeyExists(QV_REG_PRODUCT_KEY));
    EXPECT_EQ(Get("InfoNo"), "<none>");
    ASSERT_TRUE(QvRegSetValue(QV_REG_PRODUCT_KEY, "InfoNo", "5"));
    ASSERT_TRUE(QvRegSetValue(QV_REG_PRODUCT_KEY, "Directory", "/home/u/.local/share/Quorvex"));
    ASSERT_TRUE(QvRegSetValue(QV_REG_PRODUCT_KEY, "InfoNo", "7"));
    EXPECT_EQ(Get("InfoNo"), "7");
    EXPECT_EQ(Get("Directory"), "/home/u/.local/share/Quorvex");
    EXPECT_TRUE(QvRegKeyExists(QV_REG_PRODUCT_KEY));
    EXPECT_TRUE(QvRegKeyExists(QV_REG_VENDOR_KEY));

    char path[4096];
    ASSERT_TRUE(QvRegKeyFile(QV_REG_PRODUCT_KEY, path, sizeof path));
    EXPECT_EQ(path, KeyFile());
    struct stat st;
    ASSERT_EQ(::stat(path, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(qvtest::ReadFile(path),
              "; Quorvex registry key HKEY_CURRENT_USER\\Software\\Kelvar\\TavorinSekuvo\n"
              "Directory=/home/u/.local/share/Quorvex\n"
              "InfoNo=7\n");
    // Only the key file is in its folder: no temporary file is left behind.
    EXPECT_EQ(qvtest::ListDir(config.Path() + "/quorvex/registry/Software/Kelvar"),
              std::vector<std::string>{"TavorinSekuvo.key"});
}

TEST_F(Registry, OddValuesRoundTripAndBadNamesAreRefused) {
    const std::string odd = "a\\b\nc=d\r;e";
    ASSERT_TRUE(QvRegSetValue(QV_REG_PRODUCT_KEY, "Odd", odd.c_str()));
    ASSERT_TRUE(QvRegSetValue(QV_REG_PRODUCT_KEY, "Empty", ""));
    EXPECT_EQ(Get("Odd"), odd);
    EXPECT_EQ(Get("Empty"), "");
    EXPECT_EQ(Get("Od"), "<none>");  // a prefix of a name is not the name
    char small[3];
    EXPECT_FALSE(QvRegGetValue(QV_REG_PRODUCT_KEY, "Odd", small, sizeof small));
    for (const char* bad : {"", "a=b", ";x", "x\ny"})
        EXPECT_FALSE(QvRegSetValue(QV_REG_PRODUCT_KEY, bad, "1")) << bad;
    for (const char* badKey :
         {"", "Software\\..\\x", "Software\\\\x", "Software\\a/b", "Software\\"})
        EXPECT_FALSE(QvRegSetValue(badKey, "v", "1")) << badKey;
    // A hand-edited file with CR LF line ends and comments still reads.
    qvtest::WriteFile(KeyFile(), "; note\r\nInfoNo=12\r\n\r\nDirectory=/opt/q\r\n");
    EXPECT_EQ(Get("InfoNo"), "12");
    EXPECT_EQ(Get("Directory"), "/opt/q");
    ASSERT_TRUE(QvRegDeleteValue(QV_REG_PRODUCT_KEY, "InfoNo"));
    EXPECT_EQ(Get("InfoNo"), "<none>");
    EXPECT_EQ(Get("Directory"), "/opt/q");
    EXPECT_FALSE(QvRegDeleteValue(QV_REG_PRODUCT_KEY, "InfoNo"));
}

TEST_F(Registry, DeletingTheKeyLeavesNoFolderBehind) {
    EXPECT_FALSE(QvRegDeleteKey(QV_REG_VENDOR_KEY, QV_REG_PRODUCT_SUBKEY));  // no vendor key
    ASSERT_TRUE(QvRegSetValue(QV_REG_PRODUCT_KEY, "InfoNo", "3"));
    ASSERT_TRUE(QvRegSetValue("Software\\Kelvar\\TavorinSekuvo\\Sub", "x", "1"));
    EXPECT_FALSE(QvRegDeleteKey(QV_REG_VENDOR_KEY, "Other"));
    ASSERT_TRUE(QvRegDeleteKey(QV_REG_VENDOR_KEY, QV_REG_PRODUCT_SUBKEY));
    EXPECT_FALSE(QvRegKeyExists(QV_REG_PRODUCT_KEY));
    EXPECT_FALSE(QvRegKeyExists("Software\\Kelvar\\TavorinSekuvo\\Sub"));
    EXPECT_EQ(qvtest::ListDir(config.Path()), std::vector<std::string>{});

    // Another vendor's key keeps the shared folders alive.
    ASSERT_TRUE(QvRegSetValue("Software\\Other", "v", "1"));
    ASSERT_TRUE(QvRegSetValue(QV_REG_PRODUCT_KEY, "InfoNo", "3"));
    ASSERT_TRUE(QvRegDeleteKey(QV_REG_VENDOR_KEY, QV_REG_PRODUCT_SUBKEY));
    EXPECT_TRUE(QvRegKeyExists("Software\\Other"));
}

TEST_F(Registry, FallsBackToHomeConfig) {
    unsetenv("XDG_CONFIG_HOME");
    const char* oldHome = std::getenv("HOME");
    const std::string saved = oldHome ? oldHome : "";
    setenv("HOME", config.Path().c_str(), 1);
    char path[4096];
    ASSERT_TRUE(QvRegKeyFile(QV_REG_PRODUCT_KEY, path, sizeof path));
    EXPECT_EQ(std::string(path),
              config.Path() + "/.config/quorvex/registry/Software/Kelvar/TavorinSekuvo.key");
    setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    ASSERT_TRUE(QvRegKeyFile(QV_REG_PRODUCT_KEY, path, sizeof path));
    EXPECT_EQ(std::string(path).rfind(config.Path() + "/.config/", 0), 0u);
    setenv("HOME", saved.c_str(), 1);
}

}  // namespace
