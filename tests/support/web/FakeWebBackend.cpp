#include "tests/support/web/FakeWebBackend.h"

#include <sys/stat.h>

#include <QBuffer>
#include <QImage>

#include "platform/text/Text.h"
#include "tests/support/TestSupport.h"

namespace qvtest {
namespace {

// A real JPEG file of w x h pixels that differs with number.
std::string MakeJpeg(int w, int h, int number) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(QColor::fromHsv((number * 47) % 360, 160, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 80);
    return bytes.toStdString();
}

}  // namespace

FakeWebBackend::FakeWebBackend(const std::string& home) {
    folders_ = {home + "/log", home + "/detect", home + "/timer"};
    for (const std::string& f : {folders_.Log, folders_.Detect, folders_.Timer})
        ::mkdir(f.c_str(), 0700);
    const std::string log =
        "1,2026/12/06 09:00:00,タイマー保存,t2026120609000000.jpg\r\n"
        "0,2026/12/06 09:00:05,動体検知保存,d2026120609000500.jpg\r\n"
        "0,2026/12/06 09:00:06,動体検知保存,d2026120609000600.jpg\r\n"
        "2,2026/12/06 09:00:09,メール通知,メール送信に失敗しました\r\n"
        "0,2026/12/06 09:01:00,動体検知保存,d2026120609010000.jpg\r\n";
    WriteFile(folders_.Log + "/2026-12-06.log", qv::text::Utf8ToCp932(log));
    WriteFile(folders_.Log + "/2026-12-05.log", "");
    int n = 0;
    for (const char* p : {"/timer/t2026120609000000.jpg", "/detect/d2026120609000500.jpg",
                          "/detect/d2026120609000600.jpg", "/detect/d2026120609010000.jpg"})
        WriteFile(home + p, MakeJpeg(320, 240, 100 + n++));
    for (int i = 0; i < 8; ++i) frames_.push_back(MakeJpeg(640, 480, i));
}

qv::web::Status FakeWebBackend::CurrentStatus() {
    std::lock_guard<std::mutex> lock(mutex_);
    qv::web::Status s = status_;
    const unsigned at = next_.load();
    s.Level = static_cast<int>((at * 997) % 5000);
    for (unsigned i = 0; i < 60; ++i) s.Levels.push_back(static_cast<int>(((at + i) * 997) % 5000));
    return s;
}

}  // namespace qvtest
