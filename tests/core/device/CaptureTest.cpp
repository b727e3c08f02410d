// Single-frame and sequence capture, and requests from other threads.
#include <QElapsedTimer>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

#include <jpeglib.h>

#include "core/src/CoreState.h"
#include "tests/core/device/DeviceFixture.h"

namespace qvtest {
namespace {

uint32_t Le32(const std::string& s, size_t at) {
    return static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8 |
           static_cast<uint8_t>(s[at + 2]) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24;
}

// Runs f on its own thread while this (the window) thread keeps its event loop going.
template <typename F>
void OnOtherThread(F f) {
    std::atomic<bool> done{false};
    std::thread t([&] {
        f();
        done = true;
    });
    SpinUntil([&] { return done.load(); }, 10000);
    t.join();
}

// The first luminance quantisation value libjpeg writes for a quality.
int ExpectedQuant0(int quality) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    c.in_color_space = JCS_RGB;
    c.input_components = 3;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    const int q = c.quant_tbl_ptrs[0]->quantval[0];
    jpeg_destroy_compress(&c);
    return q;
}

struct DecodedJpeg {
    bool ok = false;
    int width = 0, height = 0, quant0 = 0;
};

DecodedJpeg DecodeJpeg(const std::string& path) {
    DecodedJpeg d;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return d;
    jpeg_decompress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_decompress(&c);
    jpeg_stdio_src(&c, f);
    if (jpeg_read_header(&c, TRUE) == JPEG_HEADER_OK) {
        d.ok = true;
        d.width = static_cast<int>(c.image_width);
        d.height = static_cast<int>(c.image_height);
        d.quant0 = c.quant_tbl_ptrs[0] ? c.quant_tbl_ptrs[0]->quantval[0] : 0;
    }
    jpeg_destroy_decompress(&c);
    std::fclose(f);
    return d;
}

std::vector<uint8_t> Gradient(const qv::capture::VideoFormat& f) {
    std::vector<uint8_t> frame = SolidFrame(f, 0);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 13);
    return frame;
}

TEST_F(DeviceTest, SingleFrameBmpFromAnotherThread) {
    auto source = OpenCamera(Rgb24(64, 48));
    ASSERT_EQ(QvSetDeviceState(QV_DS_DISPLAY_MODE, QV_DISPLAY_PREVIEW), 1);
    ASSERT_EQ(QvSetDeviceState(QV_DS_MOTION_MODE, QV_MOTION_MEASURE), 1);
    GrabLevel(source, SolidFrame(source->Format(), 10));
    const std::vector<uint8_t> frame = Gradient(source->Format());
    source->Queue(frame);
    const std::string path = temp_.File("frame.bmp");
    std::vector<char> p(path.begin(), path.end());
    p.push_back('\0');
    int result = -1;
    // 0x4B has bit 0x10 clear: a BMP in spite of the quality byte.
    OnOtherThread([&] { result = QvCaptureSingleFrame(p.data(), 0x4B); });
    EXPECT_EQ(result, 1);
    const std::string bmp = ReadFile(path);
    ASSERT_EQ(bmp.size(), 54 + frame.size());
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    EXPECT_EQ(Le32(bmp, 2), bmp.size());
    EXPECT_EQ(Le32(bmp, 10), 54u);
    EXPECT_EQ(Le32(bmp, 18), 64u);
    EXPECT_EQ(Le32(bmp, 22), 48u);
    EXPECT_EQ(static_cast<uint8_t>(bmp[28]), 24);
    EXPECT_EQ(std::memcmp(bmp.data() + 54, frame.data(), frame.size()), 0);
    // The grabbed frame was not measured, and the capture zeroes the level.
    unsigned long level = 1;
    ASSERT_EQ(QvGetDeviceState(QV_DS_MOTION_LEVEL, &level), 1);
    EXPECT_EQ(level, 0u);
    EXPECT_EQ(QvIsCapturing(), 0);
}

TEST_F(DeviceTest, SingleFrameJpegTakesTheQualityFromTheLowByte) {
    auto source = OpenCamera(Rgb24(64, 48));
    source->SetRepeatLast(true);
    source->Queue(Gradient(source->Format()));
    const std::string path = temp_.File("frame.jpg");
    std::vector<char> p(path.begin(), path.end());
    p.push_back('\0');
    int result = -1;
    OnOtherThread([&] { result = QvCaptureSingleFrame(p.data(), 0x50); });
    EXPECT_EQ(result, 1);
    const DecodedJpeg jpeg = DecodeJpeg(path);
    ASSERT_TRUE(jpeg.ok);
    EXPECT_EQ(jpeg.width, 64);
    EXPECT_EQ(jpeg.height, 48);
    EXPECT_EQ(jpeg.quant0, ExpectedQuant0(80));
    EXPECT_NE(jpeg.quant0, ExpectedQuant0(75));
    // The temporary BMP is gone.
    EXPECT_FALSE(FileExists(temp_.File("_QV0000_")));
    // On the window thread itself the grab runs directly.
    EXPECT_EQ(QvCaptureSingleFrame(p.data(), 0xFF), 1);
    EXPECT_EQ(DecodeJpeg(path).quant0, ExpectedQuant0(100));
}

TEST_F(DeviceTest, AGrabThatNeverComesGivesUpAfterASecond) {
    auto source = OpenCamera(Rgb24(32, 24));
    ASSERT_EQ(QvSetDeviceState(QV_DS_MOTION_MODE, QV_MOTION_MEASURE), 1);
    GrabLevel(source, SolidFrame(source->Format(), 0));  // becomes the reference
    ASSERT_GT(GrabLevel(source, SolidFrame(source->Format(), 200)), 0);
    const std::string path = temp_.File("never.bmp");
    std::vector<char> p(path.begin(), path.end());
    p.push_back('\0');
    std::atomic<int> result{-1};
    std::atomic<long> tookMs{0};
    std::thread t([&] {
        QElapsedTimer timer;
        timer.start();
        result = QvCaptureSingleFrame(p.data(), 0);
        tookMs = timer.elapsed();
    });
    ASSERT_TRUE(SpinUntil([] { return QvIsCapturing() == 1; }));
    // While it runs, other captures and the dialogs are refused.
    EXPECT_EQ(QvOpenDialog(QV_DLG_FORMAT), 0);
    EXPECT_EQ(QvCaptureSingleFrame(p.data(), 0), 0);
    char dest[] = "/nonexistent/x.avi";
    EXPECT_EQ(QvStartCapture(dest, 0, 1), 0);
    SpinUntil([&] { return result.load() != -1; }, 5000);
    t.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_GE(tookMs.load(), 990);  // tick and timer round differently
    EXPECT_FALSE(FileExists(path));
    unsigned long level = 1;
    ASSERT_EQ(QvGetDeviceState(QV_DS_MOTION_LEVEL, &level), 1);
    EXPECT_EQ(level, 0u);
    EXPECT_EQ(QvIsCapturing(), 0);
}

TEST_F(DeviceTest, LevelPolledFromAnotherThreadWhileFramesFlow) {
    auto source = OpenCamera(Rgb24(64, 48));
    source->SetRepeatLast(true);
    ASSERT_EQ(QvSetDeviceState(QV_DS_DISPLAY_MODE, QV_DISPLAY_PREVIEW), 1);
    ASSERT_EQ(QvSetDeviceState(QV_DS_MOTION_MODE, QV_MOTION_MEASURE), 1);
    std::atomic<bool> stop{false};
    std::atomic<unsigned long> maxLevel{0};
    std::thread poller([&] {
        while (!stop) {
            unsigned long level = 0;
            if (QvGetDeviceState(QV_DS_MOTION_LEVEL, &level) == 1 && level > maxLevel)
                maxLevel = level;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    for (int i = 0; i < 10; ++i) {
        source->Queue(SolidFrame(source->Format(), static_cast<uint8_t>(i % 2 ? 20 : 220)));
        Spin(40);
    }
    // A size query from the other thread runs on this thread.
    unsigned long width = 0;
    OnOtherThread([&] { QvGetDeviceState(QV_DS_WINDOW_WIDTH, &width); });
    EXPECT_EQ(width, 64u);
    stop = true;
    poller.join();
    EXPECT_GT(maxLevel.load(), 3000u);
}

std::string Probe(const std::string& path) {
    const std::string ffprobe = FindProgram("ffprobe");
    const std::string cmd = ffprobe +
                            " -v error -count_frames -select_streams v:0 -show_entries "
                            "stream=codec_name,width,height,nb_read_frames -of csv=p=0 '" +
                            path + "' 2>&1";
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    return out;
}

TEST_F(DeviceTest, SequenceCaptureSavesFromTheSecondCaptureOn) {
    if (FindProgram("ffprobe").empty()) GTEST_SKIP() << "ffprobe is not installed";
    auto source = OpenCamera(Rgb24(64, 48));
    source->SetRepeatLast(true);
    source->Queue(Gradient(source->Format()));
    const std::string first = temp_.File("first.avi"), second = temp_.File("second.avi");
    std::vector<char> a(first.begin(), first.end()), b(second.begin(), second.end());
    a.push_back('\0');
    b.push_back('\0');
    EXPECT_EQ(QvStartCapture(a.data(), 0, 1), 1);
    // The first capture-end after start-up saves nothing, and the device is free again.
    EXPECT_FALSE(FileExists(first));
    EXPECT_EQ(QvIsCapturing(), 0);
    unsigned long exists = 0;
    ASSERT_EQ(QvGetDeviceState(QV_DS_CAPTURE_FILE_EXISTS, &exists), 1);
    EXPECT_EQ(exists, 1u);
    int result = -1;
    OnOtherThread([&] { result = QvStartCapture(b.data(), 0, 1); });
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(FileExists(first));
    ASSERT_TRUE(FileExists(second));
    EXPECT_FALSE(FileExists(temp_.File("_QV0001_")));
    EXPECT_EQ(QvIsCapturing(), 0);
    const std::string probe = Probe(second);
    EXPECT_EQ(probe.substr(0, probe.find(',')), "rawvideo") << probe;
    EXPECT_NE(probe.find(",64,48,"), std::string::npos) << probe;
    const int frames = std::atoi(probe.substr(probe.rfind(',') + 1).c_str());
    EXPECT_GE(frames, 12) << probe;
    EXPECT_LE(frames, 17) << probe;
}

TEST_F(DeviceTest, SequenceWithoutLimitRunsUntilStopped) {
    auto source = OpenCamera(Yuy2(32, 24));
    source->SetRepeatLast(true);
    source->Queue(SolidFrame(source->Format(), 90));
    std::atomic<int> stopResult{-1};
    std::thread stopper([&] {
        while (QvIsCapturing() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stopResult = QvStopCapture();
    });
    char dest[] = "unused.avi";
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(QvStartCapture(dest, 0, 0), 1);
    stopper.join();
    EXPECT_EQ(stopResult.load(), 1);
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_EQ(QvStopCapture(), 0);
}

}  // namespace
}  // namespace qvtest
