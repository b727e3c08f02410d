#include "platform/capture/demo/DemoCamera.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

namespace qv::capture {

namespace {

struct Rgb {
    int r, g, b;
};

// A top-down picture of 8-bit BGR triples that the scene is drawn into.
class Canvas {
  public:
    Canvas(int w, int h) : w_(w), h_(h), px_(static_cast<size_t>(w) * h * 3) {}
    int W() const { return w_; }
    int H() const { return h_; }
    uint8_t* Row(int y) { return px_.data() + static_cast<size_t>(y) * w_ * 3; }
    const uint8_t* Row(int y) const { return px_.data() + static_cast<size_t>(y) * w_ * 3; }

    void Put(int x, int y, Rgb c) {
        if (x < 0 || y < 0 || x >= w_ || y >= h_) return;
        uint8_t* p = Row(y) + static_cast<size_t>(x) * 3;
        p[0] = static_cast<uint8_t>(std::clamp(c.b, 0, 255));
        p[1] = static_cast<uint8_t>(std::clamp(c.g, 0, 255));
        p[2] = static_cast<uint8_t>(std::clamp(c.r, 0, 255));
    }
    // Rectangle in scene units (0..1 of the width and height).
    void Fill(double x0, double y0, double x1, double y1, Rgb c) {
        const int ax = static_cast<int>(std::lround(x0 * w_)),
                  bx = static_cast<int>(std::lround(x1 * w_));
        const int ay = static_cast<int>(std::lround(y0 * h_)),
                  by = static_cast<int>(std::lround(y1 * h_));
        for (int y = std::max(0, ay); y < std::min(h_, by); ++y)
            for (int x = std::max(0, ax); x < std::min(w_, bx); ++x) Put(x, y, c);
    }
    // Disc with centre and radius in height units for x too, so it stays round.
    void Disc(double cx, double cy, double r, Rgb c) {
        const double px = cx * w_, py = cy * h_, pr = r * h_;
        for (int y = std::max(0, static_cast<int>(py - pr));
             y <= std::min(h_ - 1, static_cast<int>(py + pr)); ++y)
            for (int x = std::max(0, static_cast<int>(px - pr));
                 x <= std::min(w_ - 1, static_cast<int>(px + pr)); ++x)
                if ((x - px) * (x - px) + (y - py) * (y - py) <= pr * pr) Put(x, y, c);
    }

  private:
    int w_, h_;
    std::vector<uint8_t> px_;
};

void DrawRoom(Canvas& c, int brightness) {
    const int w = c.W(), h = c.H();
    auto lit = [brightness](Rgb x) {
        return Rgb{x.r + brightness, x.g + brightness, x.b + brightness};
    };
    // Wall with a soft vertical gradient, floor boards below.
    const int horizon = h * 64 / 100;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (y < horizon) {
                const int shade = 20 * y / std::max(1, horizon);
                c.Put(x, y, lit({214 - shade, 200 - shade, 172 - shade}));
            } else {
                const int board = (y - horizon) * 8 / std::max(1, h - horizon);
                // A dark seam on the first rows of each of the eight boards.
                const bool seam = ((y - horizon) * 8) % std::max(1, h - horizon) < 8;
                const int tone = (board % 2) ? 8 : 0;
                c.Put(x, y, seam ? lit({96, 64, 40}) : lit({150 - tone, 108 - tone, 70 - tone}));
            }
        }
    }
    // Window: frame, sky, cross bars.
    c.Fill(0.07, 0.10, 0.31, 0.46, lit({236, 236, 230}));
    c.Fill(0.085, 0.125, 0.295, 0.435, lit({150, 190, 230}));
    c.Fill(0.085, 0.33, 0.295, 0.435, lit({120, 160, 110}));  // hedge outside
    c.Fill(0.187, 0.125, 0.193, 0.435, lit({236, 236, 230}));
    c.Fill(0.085, 0.276, 0.295, 0.284, lit({236, 236, 230}));
    // Picture on the wall.
    c.Fill(0.42, 0.16, 0.58, 0.34, lit({90, 60, 30}));
    c.Fill(0.43, 0.18, 0.57, 0.32, lit({220, 180, 90}));
    c.Disc(0.50, 0.25, 0.04, lit({200, 80, 60}));
    // Door with its knob.
    c.Fill(0.72, 0.18, 0.87, 0.64, lit({120, 80, 50}));
    c.Fill(0.735, 0.20, 0.855, 0.62, lit({138, 94, 60}));
    c.Disc(0.845, 0.43, 0.012, lit({230, 200, 80}));
    // Table and a plant on it.
    c.Fill(0.36, 0.60, 0.62, 0.63, lit({70, 50, 35}));
    c.Fill(0.38, 0.63, 0.40, 0.80, lit({70, 50, 35}));
    c.Fill(0.58, 0.63, 0.60, 0.80, lit({70, 50, 35}));
    c.Fill(0.46, 0.55, 0.50, 0.60, lit({170, 90, 60}));
    c.Disc(0.48, 0.52, 0.04, lit({60, 140, 70}));
}

// The figure at position p (0 = just outside the left edge, 1 = just outside the right).
void DrawFigure(Canvas& c, double p, uint64_t frame) {
    const double aspect = static_cast<double>(c.H()) / c.W();
    const double half = 0.09 * aspect;  // half the body width, in width units
    const double cx = -2 * half + p * (1 + 4 * half);
    const Rgb coat{36, 40, 64}, skin{60, 44, 40}, trousers{24, 24, 30};
    c.Disc(cx, 0.27, 0.065, skin);
    c.Fill(cx - half, 0.34, cx + half, 0.70, coat);
    c.Fill(cx - half * 1.3, 0.36, cx - half, 0.62, coat);  // arms
    c.Fill(cx + half, 0.36, cx + half * 1.3, 0.62, coat);
    // Legs swing with the step.
    const double stride = ((frame / 3) % 2) ? 0.35 : -0.35;
    c.Fill(cx - half + stride * half, 0.70, cx - 0.1 * half + stride * half, 0.94, trousers);
    c.Fill(cx + 0.1 * half - stride * half, 0.70, cx + half - stride * half, 0.94, trousers);
}

// Sensor noise of +-2 in every sample, the same for a given frame number.
void AddNoise(Canvas& c, uint64_t frame) {
    uint64_t s = frame * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull;
    for (int y = 0; y < c.H(); ++y) {
        uint8_t* p = c.Row(y);
        for (int i = 0; i < c.W() * 3; ++i) {
            s ^= s << 13;
            s ^= s >> 7;
            s ^= s << 17;
            const int n = static_cast<int>(s % 5) - 2;
            p[i] = static_cast<uint8_t>(std::clamp(p[i] + n, 0, 255));
        }
    }
}

bool Offered(const VideoFormat& f) {
    for (const VideoFormat& o : DemoCamera::OfferedFormats())
        if (o.width == f.width && o.height == f.height && o.bitCount == f.bitCount &&
            o.compression == f.compression)
            return true;
    return false;
}

void Convert(const Canvas& c, const VideoFormat& f, std::vector<uint8_t>& out) {
    const int w = c.W(), h = c.H();
    out.assign(FrameBytes(f), 0);
    if (f.compression == bitmap::kYuy2) {
        // Packed YUV, top-down, chroma shared by each pixel pair.
        for (int y = 0; y < h; ++y) {
            const uint8_t* s = c.Row(y);
            uint8_t* d = out.data() + static_cast<size_t>(y) * w * 2;
            for (int x = 0; x < w; x += 2, s += 6, d += 4) {
                int ys[2], us = 0, vs = 0;
                for (int k = 0; k < 2; ++k) {
                    const int b = s[3 * k], g = s[3 * k + 1], r = s[3 * k + 2];
                    ys[k] = (77 * r + 150 * g + 29 * b) >> 8;
                    us += ((-43 * r - 85 * g + 128 * b) >> 8) + 128;
                    vs += ((128 * r - 107 * g - 21 * b) >> 8) + 128;
                }
                d[0] = static_cast<uint8_t>(ys[0]);
                d[1] = static_cast<uint8_t>(std::clamp(us / 2, 0, 255));
                d[2] = static_cast<uint8_t>(ys[1]);
                d[3] = static_cast<uint8_t>(std::clamp(vs / 2, 0, 255));
            }
        }
        return;
    }
    // RGB frames are bottom-up bitmaps with rows padded to 4 bytes.
    const size_t stride = ((static_cast<size_t>(w) * f.bitCount + 31) / 32) * 4;
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = c.Row(h - 1 - y);
        uint8_t* d = out.data() + stride * y;
        if (f.bitCount == 24) {
            std::memcpy(d, s, static_cast<size_t>(w) * 3);
        } else {
            for (int x = 0; x < w; ++x, s += 3, d += 2) {
                const uint16_t v = static_cast<uint16_t>(((s[2] & 0xF8) << 8) |
                                                         ((s[1] & 0xFC) << 3) | (s[0] >> 3));
                d[0] = static_cast<uint8_t>(v);
                d[1] = static_cast<uint8_t>(v >> 8);
            }
        }
    }
}

int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

DemoCamera::DemoCamera(Clock clock) : clock_(clock ? std::move(clock) : Clock(SteadyMs)) {
    format_ = OfferedFormats().front();
}

std::vector<VideoFormat> DemoCamera::OfferedFormats() {
    std::vector<VideoFormat> list;
    const uint32_t sizes[][2] = {{320, 240}, {640, 480}, {1280, 720}};
    for (const auto& s : sizes) {
        VideoFormat f24{s[0], s[1], 24, bitmap::kRgb, 0};
        VideoFormat yuy2{s[0], s[1], 16, bitmap::kYuy2, 0};
        VideoFormat rgb565{s[0], s[1], 16, bitmap::kBitfields, 0};
        for (VideoFormat* f : {&f24, &yuy2, &rgb565}) {
            f->imageSize = FrameBytes(*f);
            list.push_back(*f);
        }
    }
    return list;
}

bool DemoCamera::FigureVisible(uint64_t frame) {
    const int64_t inCycle = static_cast<int64_t>(frame * 1000 / kFramesPerSecond) % kCycleMs;
    return inCycle >= kCrossingStartMs && inCycle < kCrossingStartMs + kCrossingMs;
}

bool DemoCamera::RenderFrame(const VideoFormat& format, uint64_t frame, std::vector<uint8_t>& out,
                             int brightness, bool walker) {
    if (!Offered(format)) return false;
    Canvas canvas(static_cast<int>(format.width), static_cast<int>(format.height));
    DrawRoom(canvas, brightness);
    const int64_t inCycle = static_cast<int64_t>(frame * 1000 / kFramesPerSecond) % kCycleMs;
    if (walker && FigureVisible(frame))
        DrawFigure(canvas, static_cast<double>(inCycle - kCrossingStartMs) / kCrossingMs, frame);
    AddNoise(canvas, frame);
    Convert(canvas, format, out);
    return true;
}

bool DemoCamera::Open() {
    open_ = true;
    startMs_ = clock_();
    lastFrame_ = -1;
    return true;
}

void DemoCamera::Close() {
    open_ = false;
}

bool DemoCamera::SetFormat(const VideoFormat& format) {
    if (!Offered(format)) return false;
    format_ = format;
    format_.imageSize = FrameBytes(format_);
    lastFrame_ = -1;
    return true;
}

std::vector<DriverControl> DemoCamera::Controls() {
    DriverControl brightness;
    brightness.id = kBrightnessControl;
    brightness.name = "Brightness";
    brightness.kind = DriverControl::Kind::Integer;
    brightness.minimum = -64;
    brightness.maximum = 64;
    brightness.defaultValue = 0;
    brightness.value = brightness_;
    DriverControl walker;
    walker.id = kWalkerControl;
    walker.name = "Walker";
    walker.kind = DriverControl::Kind::Boolean;
    walker.maximum = 1;
    walker.defaultValue = 1;
    walker.value = walker_ ? 1 : 0;
    return {brightness, walker};
}

bool DemoCamera::SetControl(uint32_t id, int32_t value) {
    if (id == kBrightnessControl && value >= -64 && value <= 64) {
        brightness_ = value;
        return true;
    }
    if (id == kWalkerControl && (value == 0 || value == 1)) {
        walker_ = value == 1;
        return true;
    }
    return false;
}

FrameResult DemoCamera::TakeFrame(std::vector<uint8_t>& dest) {
    if (!open_) return FrameResult::Lost;
    const int64_t frame = std::max<int64_t>(0, (clock_() - startMs_) * kFramesPerSecond / 1000);
    if (frame == lastFrame_) return FrameResult::NoFrame;
    lastFrame_ = frame;
    RenderFrame(format_, static_cast<uint64_t>(frame), dest, brightness_, walker_);
    return FrameResult::Frame;
}

DriverEntry DemoCameraEntry() {
    DriverEntry e;
    e.description = DemoCamera::kDescription;
    e.version = "1.0";
    e.create = [] { return std::make_unique<DemoCamera>(); };
    return e;
}

}  // namespace qv::capture
