#include "platform/capture/stream/FrameConverter.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <cstring>

namespace qv::capture {

namespace {

struct SwsFreer {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};

bool IsFullRange(const AVFrame* f) {
    switch (f->format) {
        case AV_PIX_FMT_YUVJ420P:
        case AV_PIX_FMT_YUVJ422P:
        case AV_PIX_FMT_YUVJ444P:
        case AV_PIX_FMT_YUVJ440P:
        case AV_PIX_FMT_YUVJ411P:
            return true;
        default:
            return f->color_range == AVCOL_RANGE_JPEG;
    }
}

// swscale's vector code stores whole blocks and may run past the end of a row (and of the
// last row); it only ever writes into this scratch picture, never into the caller's buffer.
constexpr size_t kRowSlack = 64;
constexpr size_t kTailSlack = 4096;

}  // namespace

struct FrameConverter::Impl {
    struct Key {
        int srcW = 0, srcH = 0, srcFmt = -1, dstW = 0, dstH = 0;
        AVPixelFormat dstFmt = AV_PIX_FMT_NONE;
        bool full = false;
        int colorspace = 0;
        bool operator==(const Key&) const = default;
    };
    std::unique_ptr<SwsContext, SwsFreer> sws;
    Key key;
    std::vector<uint8_t> scratch;

    bool Setup(const AVFrame* f, const Key& k) {
        if (sws && k == key) return true;
        const bool scaled = k.srcW != k.dstW || k.srcH != k.dstH;
        sws.reset(sws_getContext(f->width, f->height, static_cast<AVPixelFormat>(f->format), k.dstW,
                                 k.dstH, k.dstFmt, scaled ? SWS_FAST_BILINEAR : SWS_BILINEAR,
                                 nullptr, nullptr, nullptr));
        if (!sws) return false;
        key = k;
        int* invTable = nullptr;
        int* table = nullptr;
        int srcRange = 0, dstRange = 0, brightness = 0, contrast = 0, saturation = 0;
        if (sws_getColorspaceDetails(sws.get(), &invTable, &srcRange, &table, &dstRange,
                                     &brightness, &contrast, &saturation) >= 0) {
            const int cs = f->colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_DEFAULT;
            sws_setColorspaceDetails(sws.get(), sws_getCoefficients(cs), k.full ? 1 : 0,
                                     sws_getCoefficients(cs), 1, brightness, contrast, saturation);
        }
        return true;
    }
};

FrameConverter::FrameConverter() : impl_(std::make_unique<Impl>()) {}
FrameConverter::~FrameConverter() = default;

bool FrameConverter::Convert(const AVFrame* f, const VideoFormat& out, std::vector<uint8_t>& dst) {
    if (!f || f->width <= 0 || f->height <= 0 || out.width == 0 || out.height == 0) return false;
    const bool yuy2 = out.compression == bitmap::kYuy2;
    const Impl::Key key{f->width,
                        f->height,
                        f->format,
                        static_cast<int>(out.width),
                        static_cast<int>(out.height),
                        yuy2 ? AV_PIX_FMT_YUYV422 : AV_PIX_FMT_BGR24,
                        IsFullRange(f),
                        f->colorspace};
    if (!impl_->Setup(f, key)) return false;
    // Rows as delivered: YUY2 two pixels per four bytes, BGR padded to four bytes.
    const size_t rowBytes = yuy2 ? ((out.width + 1) / 2) * 4 : out.width * size_t{3};
    const size_t stride = yuy2 ? rowBytes : (rowBytes + 3) & ~size_t{3};
    const size_t scratchStride = ((rowBytes + 63) & ~size_t{63}) + kRowSlack;
    impl_->scratch.resize(scratchStride * out.height + kTailSlack);
    uint8_t* planes[4] = {impl_->scratch.data()};
    int strides[4] = {static_cast<int>(scratchStride)};
    if (sws_scale(impl_->sws.get(), f->data, f->linesize, 0, f->height, planes, strides) <= 0)
        return false;
    dst.assign(stride * out.height, 0);
    for (size_t y = 0; y < out.height; ++y) {
        // BGR bitmaps run bottom-up.
        const size_t row = yuy2 ? y : out.height - 1 - y;
        std::memcpy(dst.data() + row * stride, impl_->scratch.data() + y * scratchStride, rowBytes);
    }
    return true;
}

}  // namespace qv::capture
