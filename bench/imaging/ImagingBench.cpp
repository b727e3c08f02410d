// The colour reduction at each quality, and the mail thread's whole attachment
// conversion of a camera frame with the default settings.
#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>

#include "app/imaging/DibImage.h"
#include "app/imaging/PictureConversion.h"
#include "app/imaging/ReduceColours.h"

namespace {

// A camera-like frame: smooth light, a figure, and sensor noise on every pixel.
qv::DibImage Frame(int32_t width, int32_t height) {
    qv::DibImage picture;
    picture.Create(width, height, 24);
    std::mt19937 random(42);
    std::uniform_int_distribution<int> noise(-6, 6);
    auto clamp = [](int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); };
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = picture.Row(y);
        for (int32_t x = 0; x < width; ++x) {
            const int dx = x - width / 2, dy = y - height / 3;
            const bool figure = dx * dx * 4 + dy * dy < height * height / 8;
            const int b = figure ? 60 : 90 + x * 100 / width;
            const int g = figure ? 50 : 110 + y * 90 / height;
            const int r = figure ? 150 : 120 + (x + y) * 60 / (width + height);
            row[3 * x] = clamp(b + noise(random));
            row[3 * x + 1] = clamp(g + noise(random));
            row[3 * x + 2] = clamp(r + noise(random));
        }
    }
    return picture;
}

// A temporary folder for the benchmark's files, removed at the end.
struct BenchDir {
    std::string Path;
    BenchDir() {
        char pattern[] = "/tmp/qvimaging-bench-XXXXXX";
        if (const char* made = mkdtemp(pattern)) Path = made;
    }
    ~BenchDir() {
        std::error_code error;
        if (!Path.empty()) std::filesystem::remove_all(Path, error);
    }
};

// The colour step as the mail thread runs it: a resized frame, file to file.
void ReduceColours(benchmark::State& state) {
    BenchDir dir;
    if (dir.Path.empty()) return state.SkipWithError("no temporary folder");
    const std::string frame = dir.Path + "/in.bmp", reduced = dir.Path + "/out.bmp";
    Frame(static_cast<int32_t>(state.range(1)), static_cast<int32_t>(state.range(2)))
        .SaveBmp(frame);
    const int quality = static_cast<int>(state.range(0));
    for (auto _ : state) {
        if (qv::ReduceColours(frame, reduced, quality, 192) != qv::kReduceDone)
            state.SkipWithError("reduction failed");
    }
}
BENCHMARK(ReduceColours)
    ->ArgNames({"quality", "w", "h"})
    ->ArgsProduct({{0, 1, 2, 3, 4}, {120}, {100}})
    ->ArgsProduct({{0, 1, 2, 3, 4}, {320}, {240}})
    ->Unit(benchmark::kMillisecond);

// The mail thread's three steps, file to file, 320 x 240 frame, default settings
// (120 x 100, colour step 24, quality 4, PNG level 7).
void AttachmentConversion(benchmark::State& state) {
    BenchDir bench;
    if (bench.Path.empty()) return state.SkipWithError("no temporary folder");
    const std::string& dir = bench.Path;
    const std::string frame = dir + "/QVTmp200.___", resized = dir + "/QVTmp201.___",
                      reduced = dir + "/QVTmp202.___", attachment = dir + "/QVTmp203.___";
    Frame(320, 240).SaveBmp(frame);
    PictSettings pict;
    pict.Type = static_cast<int32_t>(state.range(0));
    for (auto _ : state) {
        qv::ResizePicture(frame, resized, pict);
        qv::ConvertColours(resized, reduced, pict);
        if (!qv::EncodePicture(reduced, attachment, pict)) state.SkipWithError("no attachment");
    }
}
BENCHMARK(AttachmentConversion)->ArgName("png")->Arg(0)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
