// QvCoreBMP2JPG of a 640 x 480 frame beside libjpeg compressing the same pixels at the
// same quality into a file. Counter x_libjpeg: time per picture over libjpeg's.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>
#include <algorithm>

#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <vector>
// jpeglib.h needs FILE and size_t first.
#include <jpeglib.h>

#include "QuorCore.h"
#include "core/src/Pictures.h"

namespace {

constexpr int kWidth = 640, kHeight = 480, kQuality = 80;

double Now() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

struct Files {
    std::string dir, bmp, jpg, ref;
    std::vector<uint8_t> rgb;  // top-down RGB, the reader's result

    Files() {
        char tmpl[] = "/tmp/qvbenchXXXXXX";
        dir = mkdtemp(tmpl);
        bmp = dir + "/frame.bmp";
        jpg = dir + "/frame.jpg";
        ref = dir + "/ref.jpg";
        // A camera-like frame: shading, edges and noise; saved bottom-up BGR.
        std::mt19937 rng(3);
        std::vector<unsigned char> bgr(size_t(kWidth) * kHeight * 3);
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                unsigned char* p = &bgr[(size_t(kHeight - 1 - y) * kWidth + x) * 3];
                const int n = int(rng() % 7) - 3;
                p[0] = uint8_t(std::clamp(120 - x / 8 + n, 0, 255));
                p[1] = uint8_t(std::clamp(60 + y / 3 + ((x / 40 + y / 40) % 2) * 50 + n, 0, 255));
                p[2] = uint8_t(std::clamp(80 + x / 4 + n, 0, 255));
            }
        }
        QvCoreSaveBMP(bmp.c_str(), bgr.data(), kWidth, kHeight);
        rgb = qv::core::ReadBmp(bmp).rgb;
    }
    ~Files() {
        std::remove(bmp.c_str());
        std::remove(jpg.c_str());
        std::remove(ref.c_str());
        rmdir(dir.c_str());
    }
};

Files& TheFiles() {
    static Files files;
    return files;
}

void LibjpegCompress(const std::vector<uint8_t>& rgb, const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "wb");
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, f);
    cinfo.image_width = kWidth;
    cinfo.image_height = kHeight;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, kQuality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb.data() + size_t(cinfo.next_scanline) * kWidth * 3);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(f);
}

double LibjpegSeconds() {
    Files& f = TheFiles();
    double best = 1e9;
    for (int run = 0; run < 5; ++run) {
        const double t0 = Now();
        for (int k = 0; k < 10; ++k) LibjpegCompress(f.rgb, f.ref);
        best = std::min(best, (Now() - t0) / 10);
    }
    return best;
}

void BM_Bmp2Jpg(benchmark::State& state) {
    Files& f = TheFiles();
    const double baseline = LibjpegSeconds();
    const double t0 = Now();
    for (auto _ : state) {
        benchmark::DoNotOptimize(QvCoreBMP2JPG(f.bmp.data(), f.jpg.data(), kQuality));
    }
    const double perPicture = (Now() - t0) / double(state.iterations());
    state.counters["ms_per_picture"] = perPicture * 1e3;
    state.counters["libjpeg_ms"] = baseline * 1e3;
    state.counters["x_libjpeg"] = perPicture / baseline;
}

void BM_LibjpegSamePixels(benchmark::State& state) {
    Files& f = TheFiles();
    for (auto _ : state) LibjpegCompress(f.rgb, f.ref);
}

}  // namespace

BENCHMARK(BM_Bmp2Jpg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibjpegSamePixels)->Unit(benchmark::kMillisecond);
