// The web page's live picture: what one picture costs the program (the frame encoded as the
// window's bridge does it, then served over TLS on a kept-alive connection). The counter
// core_percent_at_5fps is that cost at 5 pictures a second as a share of one core; the client's
// own work is counted in too, so the program's true share is lower.
#include <benchmark/benchmark.h>
#include <time.h>

#include "bench/web/LiveViewer.h"

namespace {

double ProcessSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

void BM_LivePicture(benchmark::State& state) {
    qvbench::FrameBackend backend;
    qvbench::WebViewer viewer(backend);
    if (!viewer.Error().empty()) {
        state.SkipWithError(viewer.Error().c_str());
        return;
    }
    size_t bytes = 0;
    const double cpu0 = ProcessSeconds();
    for (auto _ : state) {
        const size_t n = viewer.Picture();
        if (n == 0) {
            state.SkipWithError("no picture");
            break;
        }
        bytes += n;
    }
    const double pictures = double(std::max<int64_t>(1, state.iterations()));
    state.counters["jpeg_bytes"] = double(bytes) / pictures;
    state.counters["core_percent_at_5fps"] = 5.0 * 100.0 * (ProcessSeconds() - cpu0) / pictures;
}
BENCHMARK(BM_LivePicture)->MeasureProcessCPUTime()->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
