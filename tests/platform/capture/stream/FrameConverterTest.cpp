// The stream camera's picture conversion at every kind of size: tiny, odd, and the largest.
// A flat picture must come out flat in every pixel, with zero row padding, and nothing may be
// written outside the delivered buffer (AddressSanitizer watches the copy out).
extern "C" {
#include <libavutil/frame.h>
}

#include <cstring>
#include <memory>

#include <gtest/gtest.h>

#include "platform/capture/stream/FrameConverter.h"
#include "tests/support/capture/ScriptedDriver.h"

namespace {

using qv::capture::FrameConverter;
using qv::capture::VideoFormat;
namespace bitmap = qv::bitmap;

struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};

// A flat grey-green picture (Y 120, U 90, V 80) of the given size in 4:2:0 or 4:2:2.
std::unique_ptr<AVFrame, FrameFree> FlatFrame(int w, int h, AVPixelFormat format) {
    std::unique_ptr<AVFrame, FrameFree> f(av_frame_alloc());
    f->width = w;
    f->height = h;
    f->format = format;
    if (av_frame_get_buffer(f.get(), 0) < 0) return nullptr;
    const int chromaH = format == AV_PIX_FMT_YUV420P ? (h + 1) / 2 : h;
    for (int plane = 0; plane < 3; ++plane)
        for (int y = 0; y < (plane ? chromaH : h); ++y)
            std::memset(f->data[plane] + y * f->linesize[plane], plane ? 100 - 10 * plane : 120,
                        plane ? (w + 1) / 2 : w);
    return f;
}

// Every pixel is the first one give or take swscale's dithering; row padding is zero.
void ExpectFlat(const VideoFormat& f, const std::vector<uint8_t>& frame) {
    ASSERT_EQ(frame.size(), f.imageSize);
    const bool yuy2 = f.compression == bitmap::kYuy2;
    const size_t rowBytes = yuy2 ? ((f.width + 1) / 2) * 4 : f.width * 3;
    const size_t stride = yuy2 ? rowBytes : (rowBytes + 3) & ~size_t{3};
    const size_t unit = yuy2 ? 4 : 3;
    for (size_t y = 0; y < f.height; ++y) {
        const uint8_t* row = frame.data() + y * stride;
        for (size_t x = 0; x < rowBytes; ++x)
            ASSERT_NEAR(row[x], frame[x % unit], 3) << "byte " << x << " of row " << y;
        for (size_t p = rowBytes; p < stride; ++p) ASSERT_EQ(row[p], 0) << "padding, row " << y;
    }
}

class FrameConverterSizes : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(FrameConverterSizes, FlatPictureStaysInsideItsBuffer) {
    const auto [w, h] = GetParam();
    FrameConverter converter;
    std::vector<uint8_t> out;
    for (AVPixelFormat src : {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUVJ422P}) {
        auto frame = FlatFrame(w, h, src);
        ASSERT_TRUE(frame);
        // Its own size as BGR; 4:2:2 also as YUY2 (even widths, as the driver offers it);
        // and a scaled-down BGR picture as the format dialog's smaller sizes make.
        std::vector<VideoFormat> outs = {qvtest::Rgb24(w, h)};
        if (src == AV_PIX_FMT_YUVJ422P && w % 2 == 0) outs.push_back(qvtest::Yuy2(w, h));
        if (w > 1 && h > 1) outs.push_back(qvtest::Rgb24((w + 1) / 2, (h + 1) / 2));
        for (const VideoFormat& f : outs) {
            SCOPED_TRACE(::testing::Message() << "source " << w << "x" << h << " format " << src
                                              << " to " << f.width << "x" << f.height);
            ASSERT_TRUE(converter.Convert(frame.get(), f, out));
            ExpectFlat(f, out);
            if (f.compression == bitmap::kRgb && f.width == static_cast<uint32_t>(w)) {
                // BT.601 green of Y 120, U 90, V 80: 175 in video range, 167 in full range.
                EXPECT_NEAR(out[1], src == AV_PIX_FMT_YUVJ422P ? 167 : 175, 3) << "green";
            }
        }
    }
}

std::vector<std::pair<int, int>> Sizes() {
    std::vector<std::pair<int, int>> list;
    for (int w : {1, 2, 3, 4, 5, 7, 8, 15, 17, 31, 33, 63, 65, 120, 121, 127, 639, 641})
        for (int h : {1, 2, 3, 5, 96, 97}) list.push_back({w, h});
    for (int big : {1023, 2047, 4095, 4096}) {
        list.push_back({big, 3});
        list.push_back({3, big});
    }
    list.push_back({4095, 4095});
    return list;
}

INSTANTIATE_TEST_SUITE_P(Sweep, FrameConverterSizes, ::testing::ValuesIn(Sizes()),
                         [](const auto& info) {
                             return std::to_string(info.param.first) + "x" +
                                    std::to_string(info.param.second);
                         });

}  // namespace
