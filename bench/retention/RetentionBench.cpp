// The periodic clean-up over a folder of 100,000 pictures: the scan when nothing is due, and
// a scan that deletes the 1,000 oldest.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "app/retention/Retention.h"

namespace {

namespace fs = std::filesystem;
constexpr int kPictures = 100'000;
constexpr std::time_t kNow = 1'800'000'000;

std::string Name(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "d%016d.jpg", i);
    return name;
}

// Picture i was written i seconds after the first.
void Make(const fs::path& dir, int i) {
    const std::string path = (dir / Name(i)).string();
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) return;
    if (::write(fd, "jpeg", 4) != 4) std::perror("write");
    timespec t[2] = {{kNow - 2 * 86400 + i, 0}, {kNow - 2 * 86400 + i, 0}};
    ::futimens(fd, t);
    ::close(fd);
}

struct Folder {
    Folder() {
        char tmpl[] = "/tmp/qvretention-bench-XXXXXX";
        path = ::mkdtemp(tmpl);
        for (int i = 0; i < kPictures; ++i) Make(path, i);
    }
    ~Folder() { fs::remove_all(path); }
    fs::path path;
};

Folder& Shared() {
    static Folder folder;
    return folder;
}

void BM_ScanNothingDue(benchmark::State& state) {
    Folder& f = Shared();
    qv::retention::Policy p;
    p.PictureDays = 30;
    for (auto _ : state) {
        auto r = qv::retention::CleanUp(p, {f.path}, "", kNow);
        benchmark::DoNotOptimize(r);
    }
    state.counters["pictures"] = kPictures;
}
BENCHMARK(BM_ScanNothingDue)->Unit(benchmark::kMillisecond);

void BM_DeleteOldestThousand(benchmark::State& state) {
    Folder& f = Shared();
    qv::retention::Policy p;
    p.PictureDays = 2;
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < 1000; ++i) Make(f.path, i);  // deleted by the last round
        state.ResumeTiming();
        // Two days after kNow - 2 days + 1000 s: pictures 0..999 are due.
        auto r = qv::retention::CleanUp(p, {f.path}, "", kNow + 1000);
        if (r.Pictures != 1000) state.SkipWithError("expected 1000 deletions");
        benchmark::DoNotOptimize(r);
    }
}
BENCHMARK(BM_DeleteOldestThousand)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
