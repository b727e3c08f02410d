// Cost per frame of the stream camera (FFmpeg decode plus the conversion to the delivered
// bitmap) for 640x480 and 1280x720 H.264, beside the ffmpeg program decoding the same file
// to null. The files are made by ffmpeg in a temporary folder at start.
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

#include "platform/capture/stream/StreamDriver.h"

namespace {

constexpr int kSeconds = 10;
constexpr int kRate = 30;
constexpr int kFrames = kSeconds * kRate;

// CPU seconds (user plus system) that the last Run's child used.
double g_childCpu = 0;

double Seconds(const timeval& t) {
    return t.tv_sec + t.tv_usec / 1e6;
}

double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
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

void DriverBench(benchmark::State& state, const std::string& size, bool convert) {
    const std::string& file = TheFiles().Get(size);
    if (file.empty()) {
        state.SkipWithError("ffmpeg could not make the test file");
        return;
    }
    uint64_t frames = 0;
    const double cpu0 = ProcessCpuSeconds();
    for (auto _ : state) {
        const uint64_t n = qv::capture::DecodeFileForBenchmark(file, convert);
        if (n != kFrames) {
            state.SkipWithError("wrong frame count");
            return;
        }
        frames += n;
    }
    Report(state, frames, ProcessCpuSeconds() - cpu0);
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

void BM_Driver_DecodeAndConvert_640x480(benchmark::State& s) {
    DriverBench(s, "640x480", true);
}
void BM_Driver_DecodeOnly_640x480(benchmark::State& s) {
    DriverBench(s, "640x480", false);
}
void BM_FfmpegProgram_ToNull_640x480(benchmark::State& s) {
    FfmpegBench(s, "640x480", false);
}
void BM_FfmpegProgram_OneThread_640x480(benchmark::State& s) {
    FfmpegBench(s, "640x480", true);
}
void BM_Driver_DecodeAndConvert_1280x720(benchmark::State& s) {
    DriverBench(s, "1280x720", true);
}
void BM_Driver_DecodeOnly_1280x720(benchmark::State& s) {
    DriverBench(s, "1280x720", false);
}
void BM_FfmpegProgram_ToNull_1280x720(benchmark::State& s) {
    FfmpegBench(s, "1280x720", false);
}
void BM_FfmpegProgram_OneThread_1280x720(benchmark::State& s) {
    FfmpegBench(s, "1280x720", true);
}

// Wall time: the ffmpeg program uses threads (unless told otherwise) and runs as a process.
BENCHMARK(BM_Driver_DecodeAndConvert_640x480)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Driver_DecodeOnly_640x480)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FfmpegProgram_ToNull_640x480)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FfmpegProgram_OneThread_640x480)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Driver_DecodeAndConvert_1280x720)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Driver_DecodeOnly_1280x720)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FfmpegProgram_ToNull_1280x720)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_FfmpegProgram_OneThread_1280x720)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
