// The motion check and ignore masks of the current device. Settings come from any thread
// (QvSetMotionCheck) and are picked up by the next frame; the window thread owns the check
// and publishes its result for the monitoring thread and the tuning view.
#include "core/src/MotionCheckHook.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <vector>

#include "core/detect/MotionCheck.h"
#include "core/include/QuorCore.h"

namespace qv::core {

namespace {

struct Hook {
    std::mutex lock;  // guards the settings and the published result
    bool enabled = false;
    detect::MaskPolygons mask;
    uint64_t generation = 0;
    detect::MotionCheckParams params;
    uint64_t paramsGeneration = 0;
    detect::MotionCheckResult published;
    std::vector<uint8_t> cells, luma;
    int gridW = 0, gridH = 0;

    // Window thread only.
    detect::MotionCheck check;
    uint64_t seen = 0, paramsSeen = 0;
    bool checking = false;
    detect::MaskPolygons activeMask;
    std::vector<detect::MaskSpan> spans;
    int spanW = -1, spanH = -1;
    std::vector<uint8_t> scratch;
};

Hook& H() {
    static Hook hook;
    return hook;
}

bool ToPixelFormat(FrameLayout layout, uint16_t bitCount, detect::PixelFormat& f) {
    switch (layout) {
        case FrameLayout::Yuy2:
            f = detect::PixelFormat::Yuy2;
            return true;
        case FrameLayout::Uyvy:
            f = detect::PixelFormat::Uyvy;
            return true;
        case FrameLayout::Rgb565:
            f = detect::PixelFormat::Rgb565;
            return true;
        case FrameLayout::Rgb555:
            f = detect::PixelFormat::Rgb555;
            return true;
        case FrameLayout::RawBytes:
            f = detect::PixelFormat::Bgr24;
            return bitCount == 24;
    }
    return false;
}

// Byte range of the masked pixels x0..x1 of picture row y, whole comparison units.
bool SpanBytes(FrameLayout layout, uint16_t bitCount, int32_t width, int32_t height,
               const detect::MaskSpan& s, size_t& offset, size_t& count) {
    switch (layout) {
        case FrameLayout::RawBytes: {
            if (bitCount % 8 != 0 || bitCount == 0) return false;
            const size_t bpp = bitCount / 8,
                         stride = (size_t(width) * bitCount / 8 + 3) & ~size_t(3);
            offset = stride * size_t(height - 1 - s.y) + size_t(s.x0) * bpp;
            count = size_t(s.x1 - s.x0) * bpp;
            return true;
        }
        case FrameLayout::Rgb565:
        case FrameLayout::Rgb555: {
            const size_t stride = (size_t(width) * 2 + 3) & ~size_t(3);
            offset = stride * size_t(height - 1 - s.y) + size_t(s.x0) * 2;
            count = size_t(s.x1 - s.x0) * 2;
            return true;
        }
        case FrameLayout::Yuy2:
        case FrameLayout::Uyvy: {
            const size_t stride = size_t(width + 1) / 2 * 4;
            const size_t g0 = size_t(s.x0) / 2, g1 = (size_t(s.x1) + 1) / 2;
            offset = stride * size_t(s.y) + g0 * 4;
            count = (g1 - g0) * 4;
            return true;
        }
    }
    return false;
}

void TakeOutMasked(Hook& h, FrameLayout layout, uint16_t bitCount, const uint8_t* frame,
                   const uint8_t* reference, uint8_t* out, size_t length, int32_t width,
                   int32_t height, uint64_t& sum) {
    if (h.activeMask.empty() || width <= 0 || height <= 0) return;
    if (h.spanW != width || h.spanH != height) {
        h.spans = detect::MaskSpans(h.activeMask, width, height);
        h.spanW = width;
        h.spanH = height;
    }
    for (const detect::MaskSpan& s : h.spans) {
        size_t offset = 0, count = 0;
        if (!SpanBytes(layout, bitCount, width, height, s, offset, count)) return;
        if (offset >= length) continue;
        count = std::min(count, length - offset);
        if (h.scratch.size() < count + 1) h.scratch.resize(count + 1);
        // The raw comparison leaves out the last byte it is given: hand it one more, except
        // at the buffer's end, where the measurement left that byte out too.
        const size_t given =
            layout == FrameLayout::RawBytes && offset + count < length ? count + 1 : count;
        const uint64_t masked =
            MeasureDifference(layout, frame + offset, reference + offset, h.scratch.data(), given);
        sum -= std::min(sum, masked);
        // No change to show there: the reference against itself.
        MeasureDifference(layout, reference + offset, reference + offset, h.scratch.data(), given);
        const size_t written = layout == FrameLayout::RawBytes ? given - 1 : count;
        std::memcpy(out + offset, h.scratch.data(), written);
    }
}

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

void CheckFrame(FrameLayout layout, uint16_t bitCount, const uint8_t* frame,
                const uint8_t* reference, uint8_t* out, size_t length, int32_t width,
                int32_t height, uint64_t& sum) {
    Hook& h = H();
    {
        std::lock_guard<std::mutex> g(h.lock);
        if (h.seen != h.generation) {
            h.seen = h.generation;
            h.checking = h.enabled;
            h.activeMask = h.mask;
            h.spanW = h.spanH = -1;
            h.check.SetMask(h.mask);
            h.check.Reset();
        }
        if (h.paramsSeen != h.paramsGeneration) {
            h.paramsSeen = h.paramsGeneration;
            h.check.SetParams(h.params);
        }
    }
    TakeOutMasked(h, layout, bitCount, frame, reference, out, length, width, height, sum);
    detect::PixelFormat format;
    if (!h.checking || !ToPixelFormat(layout, bitCount, format)) return;
    const auto& r = h.check.Feed(format, frame, length, width, height, NowMs());
    std::lock_guard<std::mutex> g(h.lock);
    h.published = r;
    h.cells = h.check.Cells();
    const auto& luma = h.check.Luma();
    h.luma.resize(luma.size());
    for (size_t i = 0; i < luma.size(); ++i)
        h.luma[i] = uint8_t(std::clamp(luma[i] + 0.5f, 0.0f, 255.0f));
    h.gridW = h.check.GridWidth();
    h.gridH = h.check.GridHeight();
}

}  // namespace qv::core

using qv::core::H;

// Any thread.
int QvSetMotionCheck(int enable, const char* mask) {
    qv::detect::MaskPolygons polygons;
    if (!qv::detect::ParseMask(mask ? mask : "", polygons)) return 0;
    auto& h = H();
    std::lock_guard<std::mutex> g(h.lock);
    h.enabled = enable != 0;
    h.mask = std::move(polygons);
    ++h.generation;
    h.published = {};
    h.cells.clear();
    h.luma.clear();
    h.gridW = h.gridH = 0;
    return 1;
}

// Any thread.
void QvSetMotionCheckValues(int noiseTenths, int areaTenths, int persistMs) {
    auto& h = H();
    std::lock_guard<std::mutex> g(h.lock);
    h.params.noiseFactor = std::clamp(noiseTenths, 1, 1000) / 10.0;
    h.params.minBlobShare = std::clamp(areaTenths, 1, 1000) / 1000.0;
    h.params.minPersistMs = std::clamp(persistMs, 0, 60000);
    ++h.paramsGeneration;
}

// Any thread.
int QvGetMotionCheckResult(QvMOTIONCHECKRESULT* result) {
    if (!result) return 0;
    auto& h = H();
    std::lock_guard<std::mutex> g(h.lock);
    const auto& r = h.published;
    *result = QvMOTIONCHECKRESULT{};
    result->enabled = h.enabled;
    result->confirmed = r.confirmed;
    result->moving = r.moving;
    result->lightChange = r.lightChange;
    result->sceneChange = r.sceneChange;
    result->noiseTenths = int32_t(r.noise * 10 + 0.5);
    result->blobCount = int32_t(std::min<size_t>(r.blobs.size(), QV_MOTION_CHECK_MAX_BLOBS));
    for (int i = 0; i < result->blobCount; ++i) {
        const auto& b = r.blobs[size_t(i)];
        result->blobs[i][0] = b.x0, result->blobs[i][1] = b.y0;
        result->blobs[i][2] = b.x1, result->blobs[i][3] = b.y1;
    }
    result->gridWidth = h.gridW;
    result->gridHeight = h.gridH;
    return 1;
}

namespace {
// A published grid into the caller's buffer of size bytes.
int CopyGrid(std::vector<uint8_t> qv::core::Hook::*grid, unsigned char* to, int size) {
    auto& h = H();
    std::lock_guard<std::mutex> g(h.lock);
    const std::vector<uint8_t>& from = h.*grid;
    if (!to || size < 0 || size_t(size) < from.size() || from.empty()) return 0;
    std::memcpy(to, from.data(), from.size());
    return 1;
}
}  // namespace

// Any thread.
int QvGetMotionCheckCells(unsigned char* cells, int size) {
    return CopyGrid(&qv::core::Hook::cells, cells, size);
}

// Any thread.
int QvGetMotionCheckPicture(unsigned char* luma, int size) {
    return CopyGrid(&qv::core::Hook::luma, luma, size);
}
