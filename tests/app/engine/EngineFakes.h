// Stand-ins for the engine's surroundings where nothing real can run: a clock the test moves, a
// core library whose level the test sets and whose "camera" writes a BMP, a window that records
// what it was asked, a silent sound player; and the day's log files and time stamps read back.
#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <deque>
#include <mutex>
#include <thread>

#include "app/engine/Engine.h"
#include "app/engine/StampTime.h"
#include "platform/text/Text.h"
#include "tests/support/LocalTime.h"
#include "tests/support/TestSupport.h"

namespace qvtest {

namespace st = qv::engine::state;

class FakeClock : public qv::engine::Clock {
  public:
    explicit FakeClock(uint32_t tick) : tick_(tick) {}
    uint32_t TickMs() override { return tick_.load(); }
    qv::engine::WallTime Now() override {
        const int64_t ms = millis_.load();
        return {ms / 1000, int32_t(ms % 1000)};
    }
    void Advance(uint32_t ms) { tick_ += ms, millis_ += ms; }  // both clocks
    void SetWall(int64_t seconds, int32_t millis = 0) { millis_ = seconds * 1000 + millis; }

  private:
    std::atomic<uint32_t> tick_;
    std::atomic<int64_t> millis_{1057000000000};
};

class FakeCore : public qv::engine::CoreApi {
  public:
    std::atomic<int> Level{0}, PulseLevel{0};  // PulseLevel: returned by one read, then gone
    std::atomic<unsigned long> Link{0};        // the camera link state
    std::atomic<int> Captures{0}, LastQuality{-1}, CleanupCalls{0};
    std::atomic<bool> GarbageFrames{false}, BlockCapture{false}, Confirmed{false};
    int LastStarted = -1;
    std::vector<std::string> Names{"Scripted Camera"};
    bool FailStartup = false;
    std::deque<std::pair<int, std::string>> StreamEvents;  // window thread only

    int Startup() override { return 1; }
    int Cleanup() override { return ++CleanupCalls, 1; }
    int GetDeviceCount() override { return int(Names.size()); }
    bool GetDeviceName(int index, std::string& name) override {
        if (index < 0 || index >= int(Names.size())) return false;
        return name = Names[size_t(index)], true;
    }
    bool StartupDevice(void*, int index) override { return LastStarted = index, !FailStartup; }
    void CleanupDevice() override {}
    void SetStreamSources(const std::vector<StreamSource>&) override {}
    void OpenDriverDialog(unsigned long) override {}
    void SetPreviewRate(int) override {}
    bool GetVideoFormat(qv::engine::VideoFormatInfo& format) override {
        return format = {160, 120, 24}, true;
    }
    bool GetState(unsigned long id, unsigned long& value) override {
        if (id == st::DisplayCaps) value = st::DisplayPreview;
        if (id == st::DeviceLink) value = Link.load();
        if (id != st::MotionLevel) return id == st::DisplayCaps || id == st::DeviceLink;
        const int pulse = PulseLevel.exchange(0);
        return value = static_cast<unsigned long>(pulse ? pulse : Level.load()), true;
    }
    bool SetState(unsigned long id, unsigned long value) override {
        std::lock_guard lock(mutex_);
        return states_.emplace_back(id, value), true;
    }
    bool HasState(unsigned long id, unsigned long value) {
        std::lock_guard lock(mutex_);
        return std::count(states_.begin(), states_.end(), std::pair{id, value}) > 0;
    }
    bool CaptureSingleFrame(const std::string& bmpPath) override {
        while (BlockCapture) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++Captures;
        WriteFile(bmpPath, GarbageFrames ? "this is no picture" : BmpBytes(160, 120));
        return true;
    }
    // The "JPEG" is the stamped BMP itself: the rules do not care about the encoding.
    bool BmpToJpeg(const std::string& bmpPath, const std::string& jpegPath, int quality) override {
        LastQuality = quality;
        return FileExists(bmpPath) && (WriteFile(jpegPath, ReadFile(bmpPath)), true);
    }
    bool TakeStreamEvent(int& kind, std::string& name) override {
        if (StreamEvents.empty()) return false;
        std::tie(kind, name) = StreamEvents.front();
        return StreamEvents.pop_front(), true;
    }
    // The motion check: the test sets its verdict; the last setup given is kept.
    bool SetMotionCheck(const qv::engine::MotionCheckSetup& setup) override {
        std::lock_guard lock(mutex_);
        return setup_ = setup, true;
    }
    bool GetMotionCheck(qv::engine::MotionCheckVerdict& verdict) override {
        verdict = {};
        verdict.Confirmed = Confirmed.load();
        verdict.GridWidth = 4, verdict.GridHeight = 3;
        return true;
    }
    bool GetMotionCheckGrid(std::vector<uint8_t>& cells, std::vector<uint8_t>& luma) override {
        cells.assign(12, 0), luma.assign(12, 128);
        return cells[5] = 2, true;
    }
    qv::engine::MotionCheckSetup LastSetup() {
        std::lock_guard lock(mutex_);
        return setup_;
    }

  private:
    std::mutex mutex_;
    std::vector<std::pair<unsigned long, unsigned long>> states_;
    qv::engine::MotionCheckSetup setup_;
};

class FakeHost : public qv::engine::EngineHost {
  public:
    void Repaint(qv::engine::Area) override {}
    void Post(std::function<void()> fn) override {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(fn));
    }
    void EventListChanged() override {}
    void SetEventListVisible(bool visible) override { listVisible = visible; }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void WindowPosition(int32_t& left, int32_t& top) override { left = 123, top = 45; }
    void EndMonitor() override { ended = true; }
    void* CaptureWindow() override { return this; }
    void Notify(const std::string&, const std::string&, const std::string&, bool, bool) override {
        ++notices;
    }
    // The test thread plays the window thread: runs what was posted.
    void Pump() {
        std::deque<std::function<void()>> work;
        {
            std::lock_guard lock(mutex_);
            work.swap(posted_);
        }
        for (auto& fn : work) fn();
    }
    std::atomic<bool> listVisible{true}, ended{false};
    std::atomic<int> notices{0};
    std::vector<std::string> messages;  // window thread only

  private:
    std::mutex mutex_;
    std::deque<std::function<void()>> posted_;
};

class FakeSound : public qv::sound::SoundPlayer {
  public:
    void Play(const std::string& path, bool loop) override {
        std::lock_guard lock(mutex_);
        last_ = path, Looping = loop, Playing = true;
    }
    void Stop() override { Playing = false; }
    std::string Last() {
        std::lock_guard lock(mutex_);
        return last_;
    }
    std::atomic<bool> Playing{false}, Looping{false};

  private:
    std::mutex mutex_;
    std::string last_;
};

// The lines of the day's log files in a folder (UTF-8, without CR LF), of one kind or all.
inline std::vector<std::string> LogLines(const std::string& folder, char kind = 0) {
    std::vector<std::string> lines;
    for (const auto& name : FileExists(folder) ? ListDir(folder) : std::vector<std::string>{}) {
        const std::string all = ReadFile(folder + "/" + name);
        for (size_t pos = 0, end; (end = all.find("\r\n", pos)) != std::string::npos; pos = end + 2)
            if (!kind || all[pos] == kind)
                lines.push_back(qv::text::Cp932ToUtf8(all.substr(pos, end - pos)));
    }
    return lines;
}

// The text "YYYY/MM/DD hh:mm:ss" of a time stamp at the top left of a picture (one line, or the
// date over the time), read as the glyphs of the stamp font that best explain its pixels; worst
// is the largest mean squared difference of a chosen glyph (0 for an exact stamp).
inline std::string ReadStamp(const std::function<int(int x, int y)>& pixel, bool twoLines = false,
                             double* worst = nullptr) {
    std::string text;
    double most = 0;
    for (int i = 0; i < 19; ++i) {
        const int left = twoLines ? 8 * (i < 10 ? i : i - 11) : (i < 10 ? 8 * i : 8 * i - 4);
        const int top = twoLines && i > 10 ? 12 : 0;
        std::pair<double, char> best{0, ' '};  // the space between date and time
        for (int g = 0; g < 12 && i != 10; ++g) {
            double sum = 0, n = 0;
            for (int p = 0; p < 96; ++p)
                if (const int v = qv::engine::StampGlyphPixel(g, p / 8, p % 8))
                    sum += std::pow(pixel(left + p % 8, top + p / 8) - v, 2), ++n;
            if (g == 0 || sum / n < best.first) best = {sum / n, "0123456789:/"[g]};
        }
        text += best.second;
        most = std::max(most, best.first);
    }
    if (worst) *worst = most;
    return text;
}

}  // namespace qvtest
