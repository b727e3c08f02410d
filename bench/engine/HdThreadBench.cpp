// One picture of the saving thread: 24-bit conversion, time stamp, JPEG through the core
// library, the copy under its final name (as HdThread does it, file by file).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "app/engine/CoreApi.h"
#include "app/engine/Files.h"
#include "app/engine/StampTime.h"
#include "app/imaging/DibImage.h"

namespace {

struct Folder {
    std::string path;
    Folder() {
        char pattern[] = "/tmp/qvbenchXXXXXX";
        path = ::mkdtemp(pattern) ? pattern : "/tmp";
        path += '/';
    }
    ~Folder() { std::system(("rm -rf '" + path + "'").c_str()); }
};

// A camera frame as the core library writes it: 24 bits, a ramp with some texture.
void WriteFrame(const std::string& path, int width, int height, int bitCount) {
    qv::DibImage image;
    image.Create(width, height, bitCount);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = image.Row(y);
        for (int x = 0; x < width * bitCount / 8; ++x)
            row[x] = static_cast<uint8_t>((x * 7 + y * 13) ^ (x >> 3));
    }
    image.SaveBmp(path);
}

void HdThreadPicture(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const int bitCount = static_cast<int>(state.range(2));
    Folder temp, out;
    const std::string frame = temp.path + "QVTmp100.___", bmp24 = temp.path + "QVTmp101.___",
                      stamped = temp.path + "QVTmp102.___", jpeg = temp.path + "QVTmp103.___";
    auto core = qv::engine::MakeQuorCoreApi();
    qv::engine::WallTime when{1057000000, 0};
    int64_t serial = 0;
    for (auto _ : state) {
        state.PauseTiming();
        WriteFrame(frame, width, height, bitCount);
        state.ResumeTiming();
        qv::DibImage image, converted;
        image.LoadBmp(frame);
        if (image.BitCount() != 24 && image.ToTrueColour(converted)) {
            converted.SaveBmp(bmp24);
        } else {
            image.SaveBmp(bmp24);
        }
        qv::engine::StampTime(bmp24, stamped, when);
        core->BmpToJpeg(stamped, jpeg, 75);
        auto r = qv::engine::PublishCopy(jpeg, out.path, "d" + std::to_string(serial++) + ".jpg");
        if (r != qv::engine::PublishResult::Published) state.SkipWithError("picture not saved");
    }
    state.SetLabel(std::to_string(width) + "x" + std::to_string(height) + " " +
                   std::to_string(bitCount) + "-bit");
}

BENCHMARK(HdThreadPicture)
    ->Args({320, 240, 24})
    ->Args({640, 480, 24})
    ->Args({640, 480, 8})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
