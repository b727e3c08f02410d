// Cost of the motion check per analysed frame at 768x576 in each frame layout, still scene
// with noise and with a figure moving through it.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "core/detect/MotionCheck.h"

namespace {

using qv::detect::PixelFormat;

std::vector<uint8_t> Frame(PixelFormat f, int w, int h, int figureX, std::mt19937& rng) {
    std::vector<uint8_t> data(qv::detect::FrameBytes(f, w, h));
    const size_t stride = data.size() / size_t(h);
    std::uniform_int_distribution<int> noise(-4, 4);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int v = 90 + 80 * x / w + noise(rng);
            if (x >= figureX && x < figureX + w / 8 && y > h / 4) v = 30;
            uint8_t* p = data.data() + size_t(y) * stride;
            switch (f) {
                case PixelFormat::Bgr24:
                    p[3 * x] = p[3 * x + 1] = p[3 * x + 2] = uint8_t(v);
                    break;
                case PixelFormat::Yuy2:
                    p[2 * x] = uint8_t(v), p[2 * x + 1] = 128;
                    break;
                case PixelFormat::Uyvy:
                    p[2 * x + 1] = uint8_t(v), p[2 * x] = 128;
                    break;
                case PixelFormat::Rgb565:
                case PixelFormat::Rgb555: {
                    const unsigned c = unsigned(v) >> 3;
                    const unsigned px = f == PixelFormat::Rgb565
                                            ? (c << 11) | ((unsigned(v) >> 2) << 5) | c
                                            : (c << 10) | (c << 5) | c;
                    p[2 * x] = uint8_t(px), p[2 * x + 1] = uint8_t(px >> 8);
                    break;
                }
            }
        }
    }
    return data;
}

void BM_MotionCheck(benchmark::State& state) {
    const auto format = static_cast<PixelFormat>(state.range(0));
    const bool moving = state.range(1) != 0;
    const int w = 768, h = 576;
    std::mt19937 rng(7);
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < 8; ++i) frames.push_back(Frame(format, w, h, moving ? i * 60 : -1000, rng));
    qv::detect::MotionCheck check;
    int64_t t = 0;
    size_t i = 0;
    for (auto _ : state) {
        const auto& f = frames[i++ % frames.size()];
        benchmark::DoNotOptimize(check.Feed(format, f.data(), f.size(), w, h, t += 100).moving);
    }
}

}  // namespace

BENCHMARK(BM_MotionCheck)
    ->ArgsProduct({{int(PixelFormat::Bgr24), int(PixelFormat::Yuy2), int(PixelFormat::Uyvy),
                    int(PixelFormat::Rgb565), int(PixelFormat::Rgb555)},
                   {0, 1}})
    ->ArgNames({"format", "moving"});
