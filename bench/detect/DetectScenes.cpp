// The detection benchmark driver. For every scene of a manifest it decodes the clip into
// 24-bit bottom-up frames (the stream camera's format) with the ffmpeg program, measures
// every frame as the core library does (level against the reference frame) and feeds the
// motion check, then plays the engine's rule over the result with the default settings of
// mode 1: the level is sampled every 200 ms, a sample at or above MotionSensitivity saves a
// picture (with the check on: only when the check confirms motion), SecCount pictures
// within one SecTimer window raise a warning, then warnings hold for SecurityTimerInterval.
//
//   detect_scenes DIR               table of DIR/manifest.tsv, one line per scene
//   detect_scenes --cost FILE S on|off
//                                   plays FILE through the stream camera in real time for
//                                   S seconds, measuring (and checking) every frame: run it
//                                   under /usr/bin/time for whole-process CPU and memory
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Motion.h"
#include "core/detect/MotionCheck.h"
#include "platform/capture/stream/StreamDriver.h"

namespace {

using qv::core::FrameLayout;

// Defaults of [WarningSettings0] (mode 1).
constexpr int kSensitivity = 3000;
constexpr int kSecCount = 5;
constexpr int kSecTimerMs = 30000;
constexpr int kHoldMs = 2 * 60000;
constexpr int kSampleMs = 200;

// The core library's measurement of one frame: level against the reference, which is
// replaced when the sum passes 10.
struct LevelMeter {
    std::vector<uint8_t> reference, out;
    int Measure(const uint8_t* frame, size_t length, int w, int h) {
        if (reference.size() != length) reference.assign(frame, frame + length);
        out.resize(length);
        const uint64_t sum = qv::core::MeasureDifference(FrameLayout::RawBytes, frame,
                                                         reference.data(), out.data(), length);
        if (sum > 10) std::memcpy(reference.data(), frame, length);
        return qv::core::MotionLevel(sum, w, h);
    }
};

struct Outcome {
    int pictures = 0, warnings = 0;
    double firstWarning = -1;  // seconds
};

enum class Rule { LevelOnly, LevelAndCheck, CheckOnly };

Outcome PlayRule(const std::vector<int>& levels, const std::vector<uint8_t>& confirmed, Rule rule,
                 int frameMs) {
    Outcome o;
    int windowCount = 0;
    int64_t windowEnd = kSecTimerMs, holdUntil = -1;
    const int64_t endMs = int64_t(levels.size()) * frameMs;
    for (int64_t t = kSampleMs; t < endMs; t += kSampleMs) {
        const size_t f = size_t(t / frameMs);
        if (t >= windowEnd) {
            windowCount = 0;
            windowEnd = t + kSecTimerMs;
        }
        if (holdUntil >= 0 && t >= holdUntil) holdUntil = -1;
        const bool level = levels[f] >= kSensitivity;
        const bool detected = rule == Rule::LevelOnly       ? level
                              : rule == Rule::LevelAndCheck ? level && confirmed[f]
                                                            : confirmed[f] != 0;
        if (!detected) continue;
        ++o.pictures;
        if (holdUntil >= 0) continue;
        if (++windowCount < kSecCount) continue;
        windowCount = 0;
        holdUntil = t + kHoldMs;
        ++o.warnings;
        if (o.firstWarning < 0) o.firstWarning = t / 1000.0;
    }
    return o;
}

std::vector<std::string> Split(const std::string& line, char sep) {
    std::vector<std::string> parts;
    std::stringstream ss(line);
    std::string p;
    while (std::getline(ss, p, sep)) parts.push_back(p);
    return parts;
}

bool Probe(const std::string& path, int& w, int& h) {
    const std::string cmd =
        "ffprobe -v error -select_streams v:0 -show_entries stream=width,height "
        "-of csv=p=0 '" +
        path + "'";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return false;
    const int n = std::fscanf(p, "%d,%d", &w, &h);
    pclose(p);
    return n == 2 && w > 0 && h > 0;
}

int RunScenes(const std::string& dir) {
    std::ifstream manifest(dir + "/manifest.tsv");
    if (!manifest) {
        std::fprintf(stderr, "no %s/manifest.tsv (run bench/scenes/make_scenes.sh)\n", dir.c_str());
        return 1;
    }
    std::printf(
        "scene\tlabel\toff_pictures\toff_warnings\toff_delay\tgated_pictures\t"
        "gated_warnings\tgated_delay\ton_pictures\ton_warnings\ton_delay\t"
        "check_ms_per_frame\n");
    std::string line;
    while (std::getline(manifest, line)) {
        const auto f = Split(line, '\t');
        if (f.size() < 4) continue;
        const std::string path = dir + "/" + f[0] + ".mp4";
        int w = 0, h = 0;
        if (!Probe(path, w, h)) {
            std::fprintf(stderr, "%s: cannot read\n", path.c_str());
            return 1;
        }
        qv::detect::MotionCheck check;
        if (f[3] != "-") {
            qv::detect::MaskPolygons mask;
            std::string error;
            if (!qv::detect::ParseMask(f[3], mask, &error)) {
                std::fprintf(stderr, "%s: bad mask: %s\n", f[0].c_str(), error.c_str());
                return 1;
            }
            check.SetMask(mask);
        }
        const std::string cmd =
            "ffmpeg -v error -i '" + path + "' -vf vflip -f rawvideo -pix_fmt bgr24 -";
        FILE* in = popen(cmd.c_str(), "r");
        if (!in) return 1;
        const size_t bytes = qv::detect::FrameBytes(qv::detect::PixelFormat::Bgr24, w, h);
        std::vector<uint8_t> frame(bytes);
        const size_t row = size_t(w) * 3, stride = bytes / size_t(h);
        std::vector<int> levels;
        std::vector<uint8_t> confirmed;
        LevelMeter meter;
        const int frameMs = 100;
        double checkSeconds = 0;
        for (;;) {
            bool ok = true;
            for (int y = 0; y < h && ok; ++y)
                ok = std::fread(frame.data() + size_t(y) * stride, 1, row, in) == row;
            if (!ok) break;
            const int64_t t = int64_t(levels.size()) * frameMs;
            levels.push_back(meter.Measure(frame.data(), bytes, w, h));
            const auto t0 = std::chrono::steady_clock::now();
            const auto& r =
                check.Feed(qv::detect::PixelFormat::Bgr24, frame.data(), bytes, w, h, t);
            checkSeconds +=
                std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            confirmed.push_back(r.confirmed);
        }
        pclose(in);
        const double enter = f[2] == "-" ? -1 : std::atof(f[2].c_str());
        auto delay = [&](const Outcome& o) {
            if (enter < 0 || o.firstWarning < 0) return std::string("-");
            char b[32];
            std::snprintf(b, sizeof b, "%.1f", o.firstWarning - enter);
            return std::string(b);
        };
        std::printf("%s\t%s", f[0].c_str(), f[1].c_str());
        for (Rule rule : {Rule::LevelOnly, Rule::LevelAndCheck, Rule::CheckOnly}) {
            const Outcome o = PlayRule(levels, confirmed, rule, frameMs);
            std::printf("\t%d\t%d\t%s", o.pictures, o.warnings, delay(o).c_str());
        }
        std::printf("\t%.2f\n", levels.empty() ? 0.0 : 1000.0 * checkSeconds / levels.size());
        std::fflush(stdout);
    }
    return 0;
}

int RunCost(const std::string& path, int seconds, bool withCheck) {
    qv::capture::StreamDriver driver(path);
    if (!driver.Open()) {
        std::fprintf(stderr, "%s: cannot open\n", path.c_str());
        return 1;
    }
    const auto format = driver.Format();
    qv::detect::MotionCheck check;
    LevelMeter meter;
    std::vector<uint8_t> frame;
    uint64_t frames = 0, moving = 0;
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (driver.TakeFrame(frame) == qv::capture::FrameResult::Frame) {
            ++frames;
            meter.Measure(frame.data(), frame.size(), int(format.width), int(format.height));
            if (withCheck) {
                const int64_t t = std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now() - start)
                                      .count();
                moving += check
                              .Feed(qv::detect::PixelFormat::Bgr24, frame.data(), frame.size(),
                                    int(format.width), int(format.height), t)
                              .confirmed;
            }
        }
        // The capture window polls at the preview rate (15 fps by default).
        std::this_thread::sleep_for(std::chrono::milliseconds(66));
    }
    driver.Close();
    std::printf("frames %llu confirmed %llu\n", (unsigned long long)frames,
                (unsigned long long)moving);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2) return RunScenes(argv[1]);
    if (argc == 5 && std::strcmp(argv[1], "--cost") == 0)
        return RunCost(argv[2], std::atoi(argv[3]), std::strcmp(argv[4], "on") == 0);
    std::fprintf(stderr, "usage: detect_scenes DIR | detect_scenes --cost FILE SECONDS on|off\n");
    return 2;
}
