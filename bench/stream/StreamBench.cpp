// Cost per frame of the stream camera for 640x480 and 1280x720 H.264: the ffmpeg program
// decoding the file to null (on all cores and on one, as the driver decodes), and the driver's
// own conversion of a decoded picture to the delivered bitmap. The files are made by ffmpeg in
// a temporary folder at start.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "platform/capture/stream/FrameConverter.h"

namespace {

constexpr int kSeconds = 10;
constexpr int kRate = 30;
constexpr int kFrames = kSeconds * kRate;

// CPU seconds (user plus system) that the last Run's child used.
double g_childCpu = 0;

double Seconds(const timeval& t) {
    return t.tv_sec + t.tv_usec / 1e6;
}

int Run(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    rusage ru{};
    ::wait4(pid, &status, 0, &ru);
    g_childCpu = Seconds(ru.ru_utime) + Seconds(ru.ru_stime);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class Files {
  public:
    Files() {
        char tmpl[] = "/tmp/qvstreambench.XXXXXX";
        if (::mkdtemp(tmpl)) dir_ = tmpl;
    }
    ~Files() {
        std::error_code ec;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
    }
    // An H.264 file of the moving test picture at this size, made once.
    const std::string& Get(const std::string& size) {
        auto it = made_.find(size);
        if (it != made_.end()) return it->second;
        const std::string path = dir_ + "/" + size + ".mp4";
        const int rc = Run({"ffmpeg", "-nostdin", "-y", "-f", "lavfi", "-i",
                            "testsrc2=size=" + size + ":rate=" + std::to_string(kRate) +
                                ":duration=" + std::to_string(kSeconds),
                            "-c:v", "libx264", "-pix_fmt", "yuv420p", "-preset", "medium", path});
        return made_[size] = rc == 0 ? path : std::string();
    }

  private:
    std::string dir_;
    std::map<std::string, std::string> made_;
};

Files& TheFiles() {
    static Files files;
    return files;
}

// ms_per_frame: wall time; cpu_ms_per_frame: processor time of the decoding (this process
// for the driver, the child for the ffmpeg program), the fairer figure on a busy machine.
void Report(benchmark::State& state, uint64_t frames, double cpuSeconds) {
    state.SetItemsProcessed(static_cast<int64_t>(frames));
    if (frames > 0) state.counters["cpu_ms_per_frame"] = cpuSeconds * 1000.0 / frames;
    state.counters["ms_per_frame"] =
        benchmark::Counter(static_cast<double>(frames) / 1000.0,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The first picture of a file, decoded.
AVFrame* FirstPicture(const std::string& path) {
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return nullptr;
    const AVCodec* codec = nullptr;
    AVFrame* frame = av_frame_alloc();
    AVPacket* pkt = av_packet_alloc();
    const int video = avformat_find_stream_info(fmt, nullptr) >= 0
                          ? av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0)
                          : -1;
    AVCodecContext* dec = video >= 0 ? avcodec_alloc_context3(codec) : nullptr;
    bool got = false;
    if (dec && avcodec_parameters_to_context(dec, fmt->streams[video]->codecpar) >= 0 &&
        avcodec_open2(dec, codec, nullptr) >= 0) {
        while (!got && av_read_frame(fmt, pkt) >= 0) {
            if (pkt->stream_index == video) avcodec_send_packet(dec, pkt);
            av_packet_unref(pkt);
            got = avcodec_receive_frame(dec, frame) == 0;
        }
    }
    avcodec_free_context(&dec);
    av_packet_free(&pkt);
    avformat_close_input(&fmt);
    if (!got) av_frame_free(&frame);
    return frame;
}

void ConvertBench(benchmark::State& state, const std::string& size) {
    AVFrame* picture = FirstPicture(TheFiles().Get(size));
    if (!picture) {
        state.SkipWithError("no picture to convert");
        return;
    }
    qv::capture::VideoFormat out{static_cast<uint32_t>(picture->width),
                                 static_cast<uint32_t>(picture->height), 24, 0, 0};
    out.imageSize = qv::capture::FrameBytes(out);
    qv::capture::FrameConverter converter;
    std::vector<uint8_t> bitmap;
    for (auto _ : state) {
        if (!converter.Convert(picture, out, bitmap)) state.SkipWithError("conversion failed");
        benchmark::DoNotOptimize(bitmap.data());
    }
    state.SetItemsProcessed(state.iterations());
    av_frame_free(&picture);
}

void FfmpegBench(benchmark::State& state, const std::string& size, bool oneThread) {
    const std::string& file = TheFiles().Get(size);
    if (file.empty()) {
        state.SkipWithError("ffmpeg could not make the test file");
        return;
    }
    uint64_t frames = 0;
    double cpu = 0;
    for (auto _ : state) {
        std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-benchmark"};
        // The driver decodes on one thread; the ffmpeg program by default on all cores.
        if (oneThread) argv.insert(argv.end(), {"-threads", "1"});
        argv.insert(argv.end(), {"-i", file, "-f", "null", "-"});
        if (Run(argv) != 0) {
            state.SkipWithError("ffmpeg failed");
            return;
        }
        frames += kFrames;
        cpu += g_childCpu;
    }
    Report(state, frames, cpu);
}

void BM_Driver_Convert_640x480(benchmark::State& s) {
    ConvertBench(s, "640x480");
}
void BM_FfmpegProgram_ToNull_640x480(benchmark::State& s) {
    FfmpegBench(s, "640x480", false);
}
void BM_FfmpegProgram_OneThread_640x480(benchmark::State& s) {
    FfmpegBench(s, "640x480", true);
}
void BM_Driver_Convert_1280x720(benchmark::State& s) {
    ConvertBench(s, "1280x720");
}
void BM_FfmpegProgram_ToNull_1280x720(benchmark::State& s) {
    FfmpegBench(s, "1280x720", false);
}
void BM_FfmpegProgram_OneThread_1280x720(benchmark::State& s) {
    FfmpegBench(s, "1280x720", true);
}

// Wall time: the ffmpeg program uses threads (unless told otherwise) and runs as a process.
BENCHMARK(BM_Driver_Convert_640x480)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FfmpegProgram_ToNull_640x480)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FfmpegProgram_OneThread_640x480)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Driver_Convert_1280x720)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FfmpegProgram_ToNull_1280x720)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FfmpegProgram_OneThread_1280x720)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
