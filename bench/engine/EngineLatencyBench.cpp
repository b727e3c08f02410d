// Frame to picture through the running engine (its sampling, capture and saving threads), with
// the hooks off, with every channel on, and with a phone watching the web page (the live
// picture five times a second, the state once a second): neither must slow the picture down.
#include <benchmark/benchmark.h>

#include <memory>

#include "bench/web/LiveViewer.h"
#include "tests/app/engine/EngineFakes.h"
#include "tests/support/http/HttpRecorder.h"

namespace {

void FrameToPicture(benchmark::State& state) {
    const bool channels = state.range(0) == 1, watched = state.range(0) == 2;
    qvtest::TempDir home, tmp;
    qvtest::HttpRecorder recorder;
    if (channels && !recorder.Started()) {
        state.SkipWithError(recorder.SkipReason().c_str());
        return;
    }
    if (channels) recorder.SetReply("POST", "", "{}", "application/json");
    AllSettings settings;
    for (int m = 0; m < kOperatingModes; ++m) {
        settings.Warning[m] = DefaultWarningSettings(m);
        settings.Warning[m].MotionSensitivity = 1500;
        settings.Warning[m].SecCount = 1;  // every picture is a warning
        settings.Warning[m].SecurityTimerInterval = 0;
        settings.Warning[m].SecurityPic = settings.Warning[m].SecurityWave = 0;
        settings.Warning[m].SendMail = settings.Warning[m].TimerEnable = 0;
    }
    if (channels) {
        settings.Hooks.Command = "/bin/true %e %f";
        settings.Hooks.CommandEvents = "detect,warning";
        settings.Hooks.WebhookUrl = recorder.BaseUrl() + "/hook";
        settings.Hooks.WebhookPicture = 1;
        settings.Hooks.PushUrl = recorder.BaseUrl() + "/room";
    }
    qvtest::FakeCore core;
    qvtest::FakeHost host;
    qvtest::FakeSound sound;
    qvtest::FakeClock clock(1000);
    qv::engine::EngineOptions options;
    options.ProgramFolder = home.Path() + "/";
    options.SettingsFile = home.File("Quorvex.ini");
    options.PollMs = 1;
    options.TimeSource = &clock;
    options.TempParent = tmp.Path();
    options.Echo = nullptr;
    qv::engine::MonitorEngine engine(host, core, sound, options);
    engine.UseSettings(settings);
    engine.Start();
    engine.StartStop();
    std::unique_ptr<qvbench::FrameBackend> backend;
    std::unique_ptr<qvbench::WebViewer> viewer;
    if (watched) {
        backend = std::make_unique<qvbench::FrameBackend>([&engine] {
            qv::web::Status s;
            s.Monitoring = engine.Running();
            s.Level = engine.LastLevelShown();
            s.Sensitivity = engine.Settings()->Warning[0].MotionSensitivity;
            return s;
        });
        viewer = std::make_unique<qvbench::WebViewer>(*backend);
        if (!viewer->Error().empty()) {
            state.SkipWithError(viewer->Error().c_str());
            engine.Finish();
            return;
        }
        viewer->Watch(5);
    }
    int saved = 0;
    for (auto _ : state) {
        core.PulseLevel = 5000;
        const int want = ++saved;
        qvtest::WaitFor(
            [&] {
                return engine.DetectCount() >= want && !engine.RequestHdEvent().IsSet() &&
                       !engine.RequestCaptureEvent().IsSet();
            },
            15000,
            [&] {
                host.Pump();
                clock.Advance(60000);  // ends the warning hold
            });
        // Pictures come seconds apart: the hooks of one are delivered before the next frame.
        state.PauseTiming();
        engine.DrainHooks();
        state.ResumeTiming();
    }
    if (viewer) state.counters["web_pictures"] = viewer->Pictures();
    viewer.reset();
    engine.DrainHooks();
    engine.Finish();
    state.SetLabel(channels ? "every channel on" : watched ? "web page watched" : "no channel");
}

BENCHMARK(FrameToPicture)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
