#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "platform/registry/Registry.h"
#include "tests/support/TestSupport.h"

TEST(Registry, ValuesRoundTripInOnePrivateFileAndTheKeyLeavesNothing) {
    qvtest::TempDir config;
    setenv("XDG_CONFIG_HOME", config.Path().c_str(), 1);
    auto get = [](const char* name) {
        char buf[256];
        return std::string(QvRegGetValue(QV_REG_PRODUCT_KEY, name, buf, sizeof buf) ? buf : "-");
    };
    const std::string odd = "a\\b\nc=d\r;e",
                      keyFile =
                          config.Path() + "/quorvex/registry/Software/Kelvar/TavorinSekuvo.key";
    for (auto [name, value] : {std::pair{"InfoNo", "5"}, {"InfoNo", "7"}, {"Odd", odd.c_str()}})
        ASSERT_TRUE(QvRegSetValue(QV_REG_PRODUCT_KEY, name, value));
    EXPECT_EQ(get("InfoNo") + "|" + get("Odd") + "|" + get("Od"), "7|" + odd + "|-");
    struct stat st;
    ASSERT_EQ(::stat(keyFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(qvtest::ListDir(config.Path() + "/quorvex/registry/Software/Kelvar"),
              std::vector<std::string>{"TavorinSekuvo.key"});  // no temporary left
    for (const char* bad : {"", "a=b", ";x", "x\ny"})
        EXPECT_FALSE(QvRegSetValue(QV_REG_PRODUCT_KEY, bad, "1"));
    for (const char* badKey : {"", "Software\\..\\x", "Software\\\\x", "Software\\a/b"})
        EXPECT_FALSE(QvRegSetValue(badKey, "v", "1")) << badKey;
    qvtest::WriteFile(keyFile, "; hand-edited\r\nInfoNo=12\r\n\r\nDirectory=/opt/q\r\n");
    ASSERT_TRUE(QvRegDeleteValue(QV_REG_PRODUCT_KEY, "InfoNo"));
    EXPECT_EQ(get("InfoNo") + "|" + get("Directory"), "-|/opt/q");
    ASSERT_TRUE(QvRegSetValue("Software\\Kelvar\\TavorinSekuvo\\Sub", "x", "1"));
    ASSERT_TRUE(QvRegDeleteKey(QV_REG_VENDOR_KEY, QV_REG_PRODUCT_SUBKEY));
    EXPECT_FALSE(QvRegDeleteKey(QV_REG_VENDOR_KEY, QV_REG_PRODUCT_SUBKEY));
    EXPECT_EQ(qvtest::ListDir(config.Path()), std::vector<std::string>{});
    unsetenv("XDG_CONFIG_HOME");
}
