// The main of every test program that needs Qt widgets: the offscreen platform, a private
// configuration folder, and never the real news service.
#include <gtest/gtest.h>

#include <QApplication>

#include "tests/support/TestSupport.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QUORVEX_NEWS_URL", "http://127.0.0.1:1/infobbs/");
    qvtest::TempDir config;
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.Path()));
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
