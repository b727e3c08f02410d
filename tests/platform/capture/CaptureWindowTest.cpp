// The capture window: frames, callbacks, saved frames, requests from other threads and
// sequence files.
#include <gtest/gtest.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/capture/CaptureWindow.h"
#include "tests/support/TestSupport.h"
#include "tests/support/capture/ScriptedDriver.h"

namespace {

using qv::capture::CaptureWindow;
using qv::capture::VideoFormat;

void SpinUntil(const std::function<bool()>& pred, int timeoutMs = 5000) {
    QElapsedTimer t;
    t.start();
    while (!pred() && t.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

uint32_t Le32(const std::string& s, size_t at) {
    return static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8 |
           static_cast<uint8_t>(s[at + 2]) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24;
}

class CaptureWindowTest : public ::testing::Test {
  protected:
    void Open(const VideoFormat& format) {
        source = std::make_shared<qvtest::ScriptedSource>(format);
        qv::capture::SetExtraDrivers({qvtest::ScriptedEntry("Scripted", source)});
        const size_t index = qv::capture::ListDrivers().size() - 1;
        window = std::make_unique<CaptureWindow>(nullptr);
        window->resize(64, 48);
        ASSERT_TRUE(window->DriverConnect(static_cast<int>(index)));
    }
    void TearDown() override {
        window.reset();
        qv::capture::SetExtraDrivers({});
    }
    std::shared_ptr<qvtest::ScriptedSource> source;
    std::unique_ptr<CaptureWindow> window;
    qvtest::TempDir temp;
};

TEST(FrameToImage, EveryLayoutPaintsTheRightColours) {
    // 24-bit: bottom-up BGR, rows padded to 4 bytes.
    std::vector<uint8_t> f24 = qvtest::SolidFrame(qvtest::Rgb24(3, 2), 0);
    ASSERT_EQ(f24.size(), 24u);
    f24[0] = 10, f24[1] = 20, f24[2] = 30;     // bottom-left
    f24[12] = 40, f24[13] = 50, f24[14] = 60;  // top-left
    QImage img = qv::capture::FrameToImage(qvtest::Rgb24(3, 2), f24.data(), f24.size());
    ASSERT_EQ(img.size(), QSize(3, 2));
    EXPECT_EQ(img.pixel(0, 1), qRgb(30, 20, 10));
    EXPECT_EQ(img.pixel(0, 0), qRgb(60, 50, 40));
    // 5-6-5 and 5-5-5: pure red.
    std::vector<uint8_t> f565 = {0x00, 0xF8, 0x00, 0xF8, 0x00, 0xF8, 0x00, 0xF8};
    img = qv::capture::FrameToImage(qvtest::Rgb565(2, 2), f565.data(), f565.size());
    EXPECT_EQ(qRed(img.pixel(1, 1)), 255);
    EXPECT_EQ(qGreen(img.pixel(1, 1)), 0);
    std::vector<uint8_t> f555 = {0x00, 0x7C, 0x00, 0x7C, 0x00, 0x7C, 0x00, 0x7C};
    img = qv::capture::FrameToImage(qvtest::Rgb555(2, 2), f555.data(), f555.size());
    EXPECT_EQ(qRed(img.pixel(0, 0)), 255);
    EXPECT_EQ(qBlue(img.pixel(0, 0)), 0);
    // YUY2 and UYVY: grey, then a red-leaning V.
    std::vector<uint8_t> yuy2 = {128, 128, 128, 128, 200, 128, 50, 128};
    img = qv::capture::FrameToImage(qvtest::Yuy2(2, 2), yuy2.data(), yuy2.size());
    EXPECT_EQ(img.pixel(0, 0), qRgb(128, 128, 128));
    EXPECT_EQ(img.pixel(0, 1), qRgb(200, 200, 200));
    EXPECT_EQ(img.pixel(1, 1), qRgb(50, 50, 50));
    std::vector<uint8_t> uyvy = {128, 100, 228, 100, 128, 100, 228, 100};
    img = qv::capture::FrameToImage(qvtest::Uyvy(2, 2), uyvy.data(), uyvy.size());
    EXPECT_GT(qRed(img.pixel(0, 0)), 200);
    EXPECT_LT(qGreen(img.pixel(0, 0)), 60);
    // Short buffers paint nothing.
    EXPECT_TRUE(qv::capture::FrameToImage(qvtest::Rgb24(3, 2), f24.data(), 23).isNull());
    EXPECT_TRUE(qv::capture::FrameToImage(qvtest::Yuy2(2, 2), yuy2.data(), 7).isNull());
}

TEST_F(CaptureWindowTest, SavedFramesKeepTheirOwnFormat) {
    Open(qvtest::Rgb565(6, 4));
    std::vector<uint8_t> frame = qvtest::SolidFrame(source->Format(), 0);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i);
    EXPECT_FALSE(window->SaveDib(temp.File("none.bmp")));  // no frame yet
    source->Queue(frame);
    ASSERT_TRUE(window->GrabFrameNoStop());
    ASSERT_TRUE(window->SaveDib(temp.File("f.bmp")));
    const std::string bmp = qvtest::ReadFile(temp.File("f.bmp"));
    // Header, three colour masks, then the frame as it came.
    ASSERT_EQ(bmp.size(), 14u + 40 + 12 + frame.size());
    EXPECT_EQ(Le32(bmp, 2), bmp.size());
    EXPECT_EQ(Le32(bmp, 10), 66u);
    EXPECT_EQ(Le32(bmp, 30), 3u);
    EXPECT_EQ(Le32(bmp, 54), 0xF800u);
    EXPECT_EQ(Le32(bmp, 58), 0x07E0u);
    EXPECT_EQ(Le32(bmp, 62), 0x001Fu);
    EXPECT_EQ(std::memcmp(bmp.data() + 66, frame.data(), frame.size()), 0);
    EXPECT_FALSE(window->SaveDib(temp.File("no/such/dir.bmp")));
    EXPECT_EQ(window->VideoFormatSize(), 52u);
}

TEST_F(CaptureWindowTest, CallbacksRunOnTheWindowThreadWhateverThreadAsks) {
    Open(qvtest::Rgb24(8, 8));
    source->SetRepeatLast(true);
    source->Queue(qvtest::SolidFrame(source->Format(), 9));
    std::atomic<QThread*> callbackThread{nullptr};
    window->SetFrameCallback([&](CaptureWindow*, uint8_t* data, size_t length) {
        callbackThread = QThread::currentThread();
        std::memset(data, 77, length);  // what preview shows may be replaced
        return true;
    });
    window->SetPreview(true);
    std::atomic<bool> done{false};
    bool grabbed = false;
    qv::capture::CaptureStatus status;
    bool statusOk = false;
    std::thread t([&] {
        grabbed = window->GrabFrameNoStop();
        statusOk = window->GetStatus(status);
        done = true;
    });
    SpinUntil([&] { return done.load(); });
    t.join();
    EXPECT_TRUE(grabbed);
    ASSERT_TRUE(statusOk);
    EXPECT_EQ(status.imageWidth, 8u);
    EXPECT_TRUE(status.liveWindow);
    EXPECT_EQ(callbackThread.load(), QThread::currentThread());
    EXPECT_EQ(window->ShownImage().pixel(0, 0), qRgb(77, 77, 77));
    EXPECT_TRUE(window->SetPreview(false));
    EXPECT_FALSE(window->SetOverlay(true));
    EXPECT_FALSE(window->GetDriverCaps().hasOverlay);
    EXPECT_TRUE(window->DriverDisconnect());
    EXPECT_FALSE(window->DriverDisconnect());
    EXPECT_FALSE(window->GrabFrameNoStop());
    EXPECT_EQ(window->VideoFormatSize(), 0u);
}

TEST_F(CaptureWindowTest, SequenceWritesAnAviThatFfprobeReads) {
    const std::string ffprobe = qvtest::FindProgram("ffprobe");
    if (ffprobe.empty()) GTEST_SKIP() << "ffprobe is not installed";
    for (const VideoFormat& format :
         {qvtest::Rgb24(32, 24), qvtest::Yuy2(32, 24), qvtest::Rgb565(32, 24)}) {
        Open(format);
        source->SetRepeatLast(true);
        source->Queue(qvtest::SolidFrame(format, 100));
        std::vector<int> statuses;
        window->SetStatusCallback([&](CaptureWindow*, int id, const std::string&) {
            if (statuses.empty() || statuses.back() != id) statuses.push_back(id);
            return true;
        });
        const std::string file = temp.File("seq.avi"), copy = temp.File("copy.avi");
        ASSERT_TRUE(window->SetCaptureFile(file));
        ASSERT_TRUE(window->AllocateFile(1 << 20));
        qv::capture::SequenceSetup setup;
        ASSERT_TRUE(window->GetSequenceSetup(setup));
        setup.limitEnabled = true;
        setup.timeLimit = 1;
        setup.requestMicroSecPerFrame = 100000;
        ASSERT_TRUE(window->SetSequenceSetup(setup));
        ASSERT_TRUE(window->Sequence());
        EXPECT_EQ(statuses, (std::vector<int>{300, 301, 0}));
        ASSERT_TRUE(window->SaveCaptureFileAs(copy));
        EXPECT_EQ(statuses.back(), 0);
        EXPECT_NE(std::find(statuses.begin(), statuses.end(), 417), statuses.end());
        EXPECT_EQ(qvtest::ReadFile(copy), qvtest::ReadFile(file));
        const std::string cmd = ffprobe +
                                " -v error -count_frames -show_entries "
                                "stream=width,height,nb_read_frames -of csv=p=0 '" +
                                copy + "' 2>&1";
        std::string out;
        if (FILE* p = popen(cmd.c_str(), "r")) {
            char buf[256];
            while (std::fgets(buf, sizeof buf, p)) out += buf;
            pclose(p);
        }
        EXPECT_EQ(out.substr(0, 6), "32,24,") << out;
        const int frames = std::atoi(out.substr(6).c_str());
        EXPECT_GE(frames, 9) << out;
        EXPECT_LE(frames, 11) << out;
        window.reset();
    }
}

}  // namespace
