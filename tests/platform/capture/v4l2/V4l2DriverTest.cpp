// The V4L2 driver against fake cameras (no V4L2 in this kernel), and against real ones
// when the machine has any.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <tuple>

#include "FakeV4l2.h"
#include "platform/capture/v4l2/V4l2Driver.h"

namespace {

using qv::capture::DriverControl;
using qv::capture::FrameResult;
using qv::capture::V4l2Driver;
using qv::capture::VideoFormat;
namespace bitmap = qv::bitmap;
using qvtest::FakeCamera;

// Fills the frame with a byte per position so rows can be told apart.
size_t Pattern(uint8_t* data, size_t capacity) {
    for (size_t i = 0; i < capacity; ++i) data[i] = uint8_t(i * 7 + i / 251);
    return capacity;
}

class V4l2 : public ::testing::Test {
  protected:
    std::shared_ptr<FakeCamera> Camera(const std::string& path, const char* card = "Cam") {
        return io_->devices[path] = std::make_shared<FakeCamera>(card);
    }
    std::shared_ptr<qvtest::FakeV4l2> io_ = std::make_shared<qvtest::FakeV4l2>();
    V4l2Driver d_{"/dev/video0", io_};
    std::vector<uint8_t> frame_;
};

TEST_F(V4l2, ListsCaptureDevicesInOrderWithTheirCardNames) {
    Camera("/dev/video0", "HD Pro Webcam C920");
    auto meta = Camera("/dev/video1", "HD Pro Webcam C920");
    meta->caps = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;  // the camera's metadata node
    Camera("/dev/video4", "Integrated Camera");
    Camera("/dev/video12", "Beyond the ten");
    const auto list = qv::capture::ListV4l2Drivers(io_);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].description + " " + list[0].version, "HD Pro Webcam C920 6.1.0");
    EXPECT_EQ(list[1].description, "Integrated Camera");
    auto driver = list[1].create();
    ASSERT_TRUE(driver->Open());
    EXPECT_TRUE(driver->HasFormatDialog() && driver->HasSourceDialog());
    // The metadata node and a missing device do not open as cameras; probing leaves nothing open.
    EXPECT_FALSE(V4l2Driver("/dev/video1", io_).Open());
    V4l2Driver none("/dev/video7", io_);
    EXPECT_FALSE(none.Open());
    EXPECT_EQ(none.TakeFrame(frame_), FrameResult::NoFrame);
    EXPECT_EQ(meta->openFds, 0);
}

// Formats the driver hands on as they come: packed YUV top-down, RGB bottom-up with rows padded
// to four bytes; the camera's own line padding is never passed on.
struct PassCase {
    uint32_t pixelFormat, width, height;
    uint16_t bits;
    uint32_t compression;
    bool bottomUp;
};

class V4l2PassThrough : public V4l2, public ::testing::WithParamInterface<PassCase> {};

TEST_P(V4l2PassThrough, FramesKeepTheirBytes) {
    const PassCase c = GetParam();
    auto cam = Camera("/dev/video0");
    cam->rowPadding = 32;
    cam->formats = {{c.pixelFormat, {{c.width, c.height}}}};
    cam->SetCurrent(c.pixelFormat, c.width, c.height);
    ASSERT_TRUE(d_.Open());
    const size_t row = c.width * c.bits / 8, stride = c.bottomUp ? (row + 3) & ~size_t{3} : row;
    EXPECT_EQ(d_.Format(),
              (VideoFormat{c.width, c.height, c.bits, c.compression, uint32_t(stride * c.height)}));
    EXPECT_EQ(d_.TakeFrame(frame_), FrameResult::NoFrame);
    ASSERT_TRUE(cam->Capture(Pattern));
    ASSERT_EQ(d_.TakeFrame(frame_), FrameResult::Frame);
    ASSERT_EQ(frame_.size(), stride * c.height);
    std::vector<uint8_t> src(cam->current.sizeimage);
    Pattern(src.data(), src.size());
    for (size_t y = 0; y < c.height; ++y) {
        const uint8_t* out = &frame_[(c.bottomUp ? c.height - 1 - y : y) * stride];
        ASSERT_EQ(std::memcmp(out, &src[y * cam->current.bytesperline], row), 0) << y;
        for (size_t k = row; k < stride; ++k) EXPECT_EQ(out[k], 0);
    }
    EXPECT_EQ(d_.TakeFrame(frame_), FrameResult::NoFrame);  // nothing new
    d_.Close();
    EXPECT_EQ(cam->mapped + cam->openFds, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, V4l2PassThrough,
    ::testing::Values(PassCase{V4L2_PIX_FMT_YUYV, 160, 120, 16, bitmap::kYuy2, false},
                      PassCase{V4L2_PIX_FMT_UYVY, 64, 48, 16, bitmap::kUyvy, false},
                      PassCase{V4L2_PIX_FMT_BGR24, 5, 3, 24, bitmap::kRgb, true},
                      PassCase{V4L2_PIX_FMT_RGB565, 5, 3, 16, bitmap::kBitfields, true},
                      PassCase{V4L2_PIX_FMT_RGB555, 5, 3, 16, bitmap::kRgb, true}));

TEST_F(V4l2, OtherFormatsAreConvertedToBgr24) {
    auto cam = Camera("/dev/video0");
    cam->formats = {{V4L2_PIX_FMT_YUV420, {{16, 8}}}};
    cam->SetCurrent(V4L2_PIX_FMT_YUV420, 16, 8);
    ASSERT_TRUE(d_.Open());
    EXPECT_EQ(d_.Format(), (VideoFormat{16, 8, 24, bitmap::kRgb, 16 * 8 * 3}));
    // Top half red, bottom half blue, in planar 4:2:0.
    ASSERT_TRUE(cam->Capture([](uint8_t* y, size_t) {
        uint8_t *u = y + 16 * 8, *v = u + 8 * 4;
        std::memset(y, 81, 16 * 4);
        std::memset(y + 16 * 4, 41, 16 * 4);
        for (auto [plane, top, bottom] : {std::tuple{u, 90, 240}, std::tuple{v, 240, 110}}) {
            std::memset(plane, top, 8 * 2);
            std::memset(plane + 8 * 2, bottom, 8 * 2);
        }
        return size_t(16 * 8 * 3 / 2);
    }));
    ASSERT_EQ(d_.TakeFrame(frame_), FrameResult::Frame);
    ASSERT_EQ(frame_.size(), 16u * 8u * 3u);
    // Bottom-up: the first DIB row is the picture's bottom (blue), the last its top (red).
    EXPECT_GT(frame_[0], 200);
    EXPECT_LT(frame_[2], 60);
    EXPECT_GT(frame_[7 * 48 + 2], 200);
    EXPECT_LT(std::max(frame_[7 * 48], frame_[7 * 48 + 1]), 60);
}

TEST_F(V4l2, FormatListAndSwitching) {
    auto cam = Camera("/dev/video0");
    ASSERT_TRUE(d_.Open());
    const std::vector<VideoFormat> expected = {{640, 480, 16, bitmap::kYuy2, 640 * 480 * 2},
                                               {320, 240, 16, bitmap::kYuy2, 320 * 240 * 2},
                                               {160, 120, 16, bitmap::kYuy2, 160 * 120 * 2},
                                               {1280, 720, 24, bitmap::kRgb, 1280 * 720 * 3},
                                               {640, 480, 24, bitmap::kRgb, 640 * 480 * 3}};
    EXPECT_EQ(d_.Formats(), expected);
    ASSERT_TRUE(d_.SetFormat({320, 240, 16, bitmap::kYuy2, 0}));
    EXPECT_EQ(cam->current.width, 320u);
    ASSERT_TRUE(cam->Capture(Pattern));
    ASSERT_EQ(d_.TakeFrame(frame_), FrameResult::Frame);
    EXPECT_EQ(frame_.size(), 320u * 240u * 2u);
    // 24 bits at 1280 x 720 only exists as MJPEG: converted.
    ASSERT_TRUE(d_.SetFormat({1280, 720, 24, bitmap::kRgb, 0}));
    EXPECT_EQ(cam->current.pixelformat, uint32_t(V4L2_PIX_FMT_MJPEG));
    EXPECT_EQ(d_.Format(), (VideoFormat{1280, 720, 24, bitmap::kRgb, 1280 * 720 * 3}));
    // A size or format the camera does not list is refused; the stream goes on as it was.
    EXPECT_FALSE(d_.SetFormat({800, 600, 16, bitmap::kYuy2, 0}));
    EXPECT_FALSE(d_.SetFormat({640, 480, 16, bitmap::kUyvy, 0}));
    EXPECT_EQ(d_.Format().width, 1280u);
    EXPECT_TRUE(cam->streaming);
}

TEST_F(V4l2, ControlsForTheSourceDialog) {
    Camera("/dev/video0");
    ASSERT_TRUE(d_.Open());
    // The class entry and the disabled hue are left out.
    using K = DriverControl::Kind;
    std::vector<std::tuple<std::string, K, int32_t, int32_t, int32_t>> seen;
    for (const DriverControl& c : d_.Controls())
        seen.emplace_back(c.name, c.kind, c.minimum, c.maximum, c.value);
    const decltype(seen) expected = {{"Brightness", K::Integer, -64, 64, 0},
                                     {"White Balance", K::Boolean, 0, 1, 1},
                                     {"Power Line", K::Menu, 0, 2, 1}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(d_.Controls()[2].menuItems, (std::vector<std::string>{"Disabled", "50 Hz", "60 Hz"}));
    EXPECT_TRUE(d_.SetControl(V4L2_CID_BRIGHTNESS, 20));
    EXPECT_EQ(d_.Controls()[0].value, 20);
    EXPECT_FALSE(d_.SetControl(V4L2_CID_BRIGHTNESS, 500) || d_.SetControl(0x12345678, 1));
}

TEST_F(V4l2, NewestFrameWinsAndAVanishedCameraIsLostUntilBack) {
    auto cam = Camera("/dev/video0");
    cam->SetCurrent(V4L2_PIX_FMT_YUYV, 160, 120);
    ASSERT_TRUE(d_.Open());
    for (uint8_t k = 1; k <= 3; ++k)
        ASSERT_TRUE(cam->Capture([k](uint8_t* p, size_t n) { return std::memset(p, k, n), n; }));
    ASSERT_EQ(d_.TakeFrame(frame_), FrameResult::Frame);
    EXPECT_EQ(frame_[0], 3);
    EXPECT_EQ(cam->queued.size(), 4u);  // every buffer is back with the camera
    // A frame shorter than its format is dropped, its buffer requeued.
    ASSERT_TRUE(cam->Capture([](uint8_t*, size_t) { return size_t(100); }));
    EXPECT_EQ(d_.TakeFrame(frame_), FrameResult::NoFrame);
    EXPECT_EQ(cam->queued.size(), 4u);
    cam->present = false;  // unplugged while streaming
    EXPECT_EQ(d_.TakeFrame(frame_), FrameResult::Lost);
    EXPECT_EQ(d_.TakeFrame(frame_), FrameResult::Lost);
    EXPECT_EQ(cam->mapped + cam->openFds, 0);
    EXPECT_TRUE(d_.Controls().empty());
    EXPECT_FALSE(d_.Open());  // still gone
    cam->present = true;      // plugged in again
    ASSERT_TRUE(d_.Open());
    ASSERT_TRUE(cam->Capture(Pattern));
    EXPECT_EQ(d_.TakeFrame(frame_), FrameResult::Frame);
}

TEST(V4l2Real, FirstCameraDeliversAFrame) {
    const auto list = qv::capture::ListV4l2Drivers();
    if (list.empty()) GTEST_SKIP() << "no V4L2 capture device on this machine";
    auto driver = list[0].create();
    ASSERT_TRUE(driver->Open()) << list[0].description;
    std::vector<uint8_t> frame;
    FrameResult r = FrameResult::NoFrame;
    for (int i = 0; i < 300 && r == FrameResult::NoFrame; ++i) {
        r = driver->TakeFrame(frame);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(r, FrameResult::Frame);
    EXPECT_EQ(frame.size(), driver->Format().imageSize);
}

}  // namespace
