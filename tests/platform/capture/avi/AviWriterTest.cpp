// AVI files as ffprobe and ffmpeg (Debian's ffmpeg package) read them.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "platform/capture/avi/AviWriter.h"
#include "tests/support/TestSupport.h"

namespace {

using qv::capture::AviWriter;
using qv::capture::VideoFormat;

std::string RunCommand(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

// key=value lines of ffprobe's stream entries.
std::map<std::string, std::string> Probe(const std::string& path) {
    const std::string out = RunCommand(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=codec_name,width,height,pix_fmt,nb_read_frames,nb_frames,r_frame_rate "
        "-of default=noprint_wrappers=1 '" +
        path + "' 2>&1");
    std::map<std::string, std::string> kv;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\n', start);
        if (end == std::string::npos) end = out.size();
        const std::string line = out.substr(start, end - start);
        const size_t eq = line.find('=');
        if (eq != std::string::npos)
            kv[line.substr(0, eq)] = line.substr(eq + 1);
        else if (!line.empty())
            kv["error"] += line;
        start = end + 1;
    }
    return kv;
}

class AviFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        if (qvtest::FindProgram("ffprobe").empty() || qvtest::FindProgram("ffmpeg").empty()) {
            GTEST_SKIP() << "ffprobe/ffmpeg (Debian package ffmpeg) not installed";
        }
    }
    qvtest::TempDir dir_;
};

TEST_F(AviFiles, TwentyFourBitFramesReadBackWithCountSizeAndPixels) {
    // 30 x 20 at 24 bits: rows of 90 bytes padded to 92, bottom-up.
    VideoFormat f{30, 20, 24, 0, 92 * 20};
    const std::string path = dir_.File("seq.avi");
    AviWriter avi;
    ASSERT_TRUE(avi.Open(path, f, 66667));
    for (int k = 0; k < 12; ++k) {
        std::vector<uint8_t> frame(f.imageSize, 0);
        for (uint32_t row = 0; row < 20; ++row) {
            for (uint32_t x = 0; x < 30; ++x) {
                uint8_t* p = &frame[row * 92 + x * 3];
                p[0] = uint8_t(10 * k);    // blue
                p[1] = uint8_t(row * 10);  // green: rises towards the top of the picture
                p[2] = uint8_t(x * 8);     // red
            }
        }
        ASSERT_TRUE(avi.AddFrame(frame.data(), frame.size()));
    }
    ASSERT_TRUE(avi.Close());
    auto kv = Probe(path);
    EXPECT_EQ(kv["error"], "");
    EXPECT_EQ(kv["codec_name"], "rawvideo");
    EXPECT_EQ(kv["width"], "30");
    EXPECT_EQ(kv["height"], "20");
    EXPECT_EQ(kv["pix_fmt"], "bgr24");
    EXPECT_EQ(kv["nb_frames"], "12");
    EXPECT_EQ(kv["nb_read_frames"], "12");
    EXPECT_EQ(kv["r_frame_rate"], "1000000/66667");
    // The decoder turns the DIB upright: its first row is the frame's last (top) row.
    const std::string raw = RunCommand("ffmpeg -v error -i '" + path +
                                       "' -frames:v 1 -f rawvideo -pix_fmt bgr24 - 2>/dev/null");
    ASSERT_EQ(raw.size(), 30u * 20u * 3u);
    EXPECT_EQ(uint8_t(raw[1]), 190);  // green of the top row
    EXPECT_EQ(uint8_t(raw[3 * 29 + 2]), 232);
    EXPECT_EQ(uint8_t(raw[(19 * 30) * 3 + 1]), 0);  // bottom row
}

TEST_F(AviFiles, SixteenBitAndPackedYuvFormats) {
    struct Case {
        VideoFormat format;
        const char* pixFmt;
    };
    const Case cases[] = {
        {{32, 16, 16, qv::capture::bmp::kYuy2, 32 * 16 * 2}, "yuyv422"},
        {{32, 16, 16, qv::capture::bmp::kUyvy, 32 * 16 * 2}, "uyvy422"},
        {{32, 16, 16, qv::capture::bmp::kRgb, 32 * 16 * 2}, "rgb555le"},
        {{32, 16, 16, qv::capture::bmp::kBitfields, 32 * 16 * 2}, "rgb565le"},
    };
    for (const Case& c : cases) {
        const std::string path = dir_.File(std::string(c.pixFmt) + ".avi");
        AviWriter avi;
        ASSERT_TRUE(avi.Open(path, c.format, 100000));
        std::vector<uint8_t> frame(c.format.imageSize, 0x5A);
        for (int k = 0; k < 5; ++k) ASSERT_TRUE(avi.AddFrame(frame.data(), frame.size()));
        ASSERT_TRUE(avi.Close());
        auto kv = Probe(path);
        EXPECT_EQ(kv["error"], "") << c.pixFmt;
        EXPECT_EQ(kv["codec_name"], "rawvideo") << c.pixFmt;
        EXPECT_EQ(kv["pix_fmt"], c.pixFmt);
        EXPECT_EQ(kv["width"], "32") << c.pixFmt;
        EXPECT_EQ(kv["height"], "16") << c.pixFmt;
        EXPECT_EQ(kv["nb_read_frames"], "5") << c.pixFmt;
        EXPECT_EQ(kv["r_frame_rate"], "10/1") << c.pixFmt;
    }
}

TEST_F(AviFiles, EmptySequenceAndMisuse) {
    VideoFormat f{8, 8, 24, 0, 0};
    const std::string path = dir_.File("empty.avi");
    AviWriter avi;
    EXPECT_FALSE(avi.AddFrame(nullptr, 0));  // not open
    EXPECT_FALSE(avi.Close());
    ASSERT_TRUE(avi.Open(path, f, 66667));
    ASSERT_TRUE(avi.Close());
    auto kv = Probe(path);
    EXPECT_EQ(kv["codec_name"], "rawvideo");
    EXPECT_TRUE(kv["nb_read_frames"] == "0" || kv["nb_read_frames"] == "N/A")
        << kv["nb_read_frames"];
    EXPECT_FALSE(avi.Open(dir_.File("no/such/dir.avi"), f, 66667));
    EXPECT_FALSE(avi.Open(path, VideoFormat{0, 8, 24, 0, 0}, 66667));
    EXPECT_FALSE(avi.Open(path, f, 0));
    // An odd frame size is padded to an even chunk and still indexed right.
    VideoFormat odd{3, 3, 24, 0, 0};
    ASSERT_TRUE(avi.Open(path, odd, 50000));
    std::vector<uint8_t> frame(qv::capture::FrameBytes(odd) - 1, 7);
    ASSERT_EQ(frame.size() % 2, 1u);
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(avi.AddFrame(frame.data(), frame.size()));
    ASSERT_TRUE(avi.Close());
    kv = Probe(path);
    EXPECT_EQ(kv["nb_frames"], "3");
}

}  // namespace
