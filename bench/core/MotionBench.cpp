// One frame of motion measurement per format and size, still and moving, beside the
// streaming floor (read frame and reference, write the output: the bytes the measurement
// must touch) and memcpy on the same buffers. Counters: us_per_frame, floor_us and
// x_floor (time per frame over the floor's).
#include <benchmark/benchmark.h>
#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <random>
#include <vector>

#include "Motion.h"

namespace {

using qv::core::FrameLayout;

struct Frames {
    std::vector<uint8_t> frame, ref, out;
};

// A room-like scene: smooth shading, a few objects, a figure; sensor noise on top.
void Scene(int w, int h, int figureX, std::mt19937& rng, std::vector<uint8_t>& rgb) {
    rgb.resize(size_t(w) * h * 3);
    std::normal_distribution<double> noise(0.0, 1.5);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            double r = 90 + 60.0 * x / w, g = 100 + 50.0 * y / h, b = 120 - 30.0 * x / w;
            if ((x / 64 + y / 48) % 5 == 0) r += 40, g -= 20;
            if (x >= figureX && x < figureX + w / 6 && y > h / 4 && y < h * 7 / 8) {
                r = 40, g = 50, b = 70;
            }
            uint8_t* p = &rgb[(size_t(y) * w + x) * 3];
            p[0] = uint8_t(std::clamp(r + noise(rng), 0.0, 255.0));
            p[1] = uint8_t(std::clamp(g + noise(rng), 0.0, 255.0));
            p[2] = uint8_t(std::clamp(b + noise(rng), 0.0, 255.0));
        }
    }
}

std::vector<uint8_t> Encode(FrameLayout layout, int w, int h, const std::vector<uint8_t>& rgb) {
    std::vector<uint8_t> out;
    const size_t n = size_t(w) * h;
    switch (layout) {
        case FrameLayout::RawBytes:
            out.resize(n * 3);
            for (size_t i = 0; i < n; ++i) {
                out[3 * i] = rgb[3 * i + 2], out[3 * i + 1] = rgb[3 * i + 1],
                        out[3 * i + 2] = rgb[3 * i];
            }
            break;
        case FrameLayout::Rgb565:
        case FrameLayout::Rgb555:
            out.resize(n * 2);
            for (size_t i = 0; i < n; ++i) {
                const int r = rgb[3 * i], g = rgb[3 * i + 1], b = rgb[3 * i + 2];
                const int p = layout == FrameLayout::Rgb565
                                  ? ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3)
                                  : ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
                out[2 * i] = uint8_t(p), out[2 * i + 1] = uint8_t(p >> 8);
            }
            break;
        case FrameLayout::Yuy2:
        case FrameLayout::Uyvy: {
            out.resize(n * 2);
            const bool uyvy = layout == FrameLayout::Uyvy;
            for (size_t i = 0; i + 1 < n; i += 2) {
                auto luma = [&](size_t k) {
                    return uint8_t(std::clamp(
                        0.299 * rgb[3 * k] + 0.587 * rgb[3 * k + 1] + 0.114 * rgb[3 * k + 2], 0.0,
                        255.0));
                };
                const double r = rgb[3 * i], g = rgb[3 * i + 1], b = rgb[3 * i + 2];
                const uint8_t u =
                    uint8_t(std::clamp(128 - 0.169 * r - 0.331 * g + 0.5 * b, 0.0, 255.0));
                const uint8_t v =
                    uint8_t(std::clamp(128 + 0.5 * r - 0.419 * g - 0.081 * b, 0.0, 255.0));
                uint8_t* q = &out[2 * i];
                if (uyvy) {
                    q[0] = u, q[1] = luma(i), q[2] = v, q[3] = luma(i + 1);
                } else {
                    q[0] = luma(i), q[1] = u, q[2] = luma(i + 1), q[3] = v;
                }
            }
            break;
        }
    }
    return out;
}

Frames Make(FrameLayout layout, int w, int h, bool moving) {
    std::mt19937 rng(42);
    std::vector<uint8_t> a, b;
    Scene(w, h, w / 3, rng, a);
    Frames f;
    f.frame = Encode(layout, w, h, a);
    if (moving) {
        Scene(w, h, w / 2, rng, b);  // the figure has moved, the noise is new
        f.ref = Encode(layout, w, h, b);
    } else {
        f.ref = f.frame;
    }
    f.out.assign(f.frame.size(), 0);
    return f;
}

__attribute__((target("avx2"))) void FloorAvx2(const uint8_t* a, const uint8_t* b, uint8_t* o,
                                               size_t n) {
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i));
        const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + i), _mm256_xor_si256(x, y));
    }
    for (; i < n; ++i) o[i] = a[i] ^ b[i];
}

// Reads frame and reference, writes the output.
void Floor(const uint8_t* a, const uint8_t* b, uint8_t* o, size_t n) {
    if (__builtin_cpu_supports("avx2")) {
        FloorAvx2(a, b, o, n);
        return;
    }
    for (size_t i = 0; i < n; ++i) o[i] = a[i] ^ b[i];
}

// Thread CPU time: the machine is shared, wall time would count other programs.
double Now() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Best time of the floor over a number of runs, in seconds.
double FloorSeconds(Frames& f) {
    double best = 1e9;
    for (int run = 0; run < 7; ++run) {
        const double t0 = Now();
        for (int k = 0; k < 20; ++k) {
            Floor(f.frame.data(), f.ref.data(), f.out.data(), f.frame.size());
            benchmark::ClobberMemory();
        }
        best = std::min(best, (Now() - t0) / 20);
    }
    return best;
}

void BM_Measure(benchmark::State& state) {
    const auto layout = static_cast<FrameLayout>(state.range(0));
    const int w = int(state.range(1)), h = int(state.range(2));
    const bool moving = state.range(3) != 0;
    Frames f = Make(layout, w, h, moving);
    const double floorSec = FloorSeconds(f);
    uint64_t sum = 0;
    const double t0 = Now();
    for (auto _ : state) {
        sum += qv::core::MeasureDifference(layout, f.frame.data(), f.ref.data(), f.out.data(),
                                           f.frame.size());
        benchmark::ClobberMemory();
    }
    const double perFrame = (Now() - t0) / double(state.iterations());
    benchmark::DoNotOptimize(sum);
    state.counters["us_per_frame"] = perFrame * 1e6;
    state.counters["floor_us"] = floorSec * 1e6;
    state.counters["x_floor"] = perFrame / floorSec;
    state.counters["level"] = qv::core::MotionLevel(sum / state.iterations(), w, h);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.frame.size()));
}

void BM_Floor(benchmark::State& state) {
    Frames f = Make(FrameLayout::RawBytes, int(state.range(0)), int(state.range(1)), true);
    for (auto _ : state) {
        Floor(f.frame.data(), f.ref.data(), f.out.data(), f.frame.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.frame.size()));
}

void BM_Memcpy(benchmark::State& state) {
    Frames f = Make(FrameLayout::RawBytes, int(state.range(0)), int(state.range(1)), true);
    for (auto _ : state) {
        std::memcpy(f.out.data(), f.frame.data(), f.frame.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.frame.size()));
}

void Args(benchmark::internal::Benchmark* b) {
    b->ArgNames({"layout", "w", "h", "moving"});
    for (int layout = 0; layout < 5; ++layout) {
        for (auto [w, h] : {std::pair{640, 480}, std::pair{1920, 1080}}) {
            for (int moving : {0, 1}) b->Args({layout, w, h, moving});
        }
    }
}

}  // namespace

// layout: 0 raw 24-bit, 1 RGB 5-6-5, 2 RGB 5-5-5, 3 YUY2, 4 UYVY
BENCHMARK(BM_Measure)->Apply(Args)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Floor)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Memcpy)->Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond);
