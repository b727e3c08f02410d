// Stand-ins for the engine's surroundings where nothing real can run: a clock the test moves, a
// core library whose level the test sets and whose "camera" writes a BMP, a window that records
// what it was asked, a silent sound player.
#pragma once

#include <atomic>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>

#include "app/engine/Engine.h"
#include "tests/support/TestSupport.h"

namespace qvtest {

class FakeClock : public qv::engine::Clock {
  public:
    explicit FakeClock(uint32_t tick) : tick_(tick) {}
    uint32_t TickMs() override { return tick_.load(); }
    qv::engine::WallTime Now() override {
        std::lock_guard lock(mutex_);
        return {millis_ / 1000, int32_t(millis_ % 1000)};
    }
    void Advance(uint32_t ms) {  // both clocks
        tick_ += ms;
        std::lock_guard lock(mutex_);
        millis_ += ms;
    }
    void SetWall(int64_t seconds, int32_t millis = 0) {
        std::lock_guard lock(mutex_);
        millis_ = seconds * 1000 + millis;
    }

  private:
    std::atomic<uint32_t> tick_;
    std::mutex mutex_;
    int64_t millis_ = 1057000000000;
};

// Seconds since 1970 of a local calendar time.
inline int64_t LocalSeconds(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900, tm.tm_mon = month - 1, tm.tm_mday = day;
    tm.tm_hour = hour, tm.tm_min = minute, tm.tm_sec = second, tm.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&tm));
}

class FakeCore : public qv::engine::CoreApi {
  public:
    std::atomic<int> Level{0};
    std::atomic<int> PulseLevel{0};      // returned by one level read, then gone
    std::atomic<unsigned long> Link{0};  // the camera link state
    std::atomic<int> Captures{0}, LastQuality{-1}, Width{160}, StartupCalls{0}, CleanupCalls{0};
    std::atomic<bool> GarbageFrames{false}, BlockCapture{false};
    int DeviceCount = 1;
    std::vector<std::string> Names{"Scripted Camera"};
    bool FailStartup = false;
    int LastStarted = -1;
    std::mutex StateMutex;
    std::vector<std::pair<unsigned long, unsigned long>> StatesSet;
    std::deque<std::pair<int, std::string>> StreamEvents;  // window thread only
    std::vector<StreamSource> Sources;

    int Startup() override { return 1; }
    int Cleanup() override { return ++CleanupCalls, 1; }
    int GetDeviceCount() override { return DeviceCount; }
    bool GetDeviceName(int index, std::string& name) override {
        if (index < 0 || index >= static_cast<int>(Names.size())) return false;
        name = Names[static_cast<size_t>(index)];
        return true;
    }
    bool StartupDevice(void*, int index) override {
        ++StartupCalls;
        LastStarted = index;
        return !FailStartup;
    }
    void CleanupDevice() override {}
    void SetStreamSources(const std::vector<StreamSource>& sources) override { Sources = sources; }
    void OpenDriverDialog(unsigned long) override {}
    void SetPreviewRate(int) override {}
    bool GetVideoFormat(qv::engine::VideoFormatInfo& format) override {
        format = {Width, 120, 24};
        return true;
    }
    bool GetState(unsigned long id, unsigned long& value) override {
        if (id == qv::engine::state::DisplayCaps) value = qv::engine::state::DisplayPreview;
        if (id == qv::engine::state::DeviceLink) value = Link.load();
        if (id != qv::engine::state::MotionLevel)
            return id == qv::engine::state::DisplayCaps || id == qv::engine::state::DeviceLink;
        const int pulse = PulseLevel.exchange(0);
        value = static_cast<unsigned long>(pulse ? pulse : Level.load());
        return true;
    }
    bool SetState(unsigned long id, unsigned long value) override {
        std::lock_guard lock(StateMutex);
        StatesSet.emplace_back(id, value);
        return true;
    }
    bool HasState(unsigned long id, unsigned long value) {
        std::lock_guard lock(StateMutex);
        for (auto [i, v] : StatesSet)
            if (i == id && v == value) return true;
        return false;
    }
    bool CaptureSingleFrame(const std::string& bmpPath) override {
        while (BlockCapture) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++Captures;
        WriteFile(bmpPath, GarbageFrames ? "this is no picture" : BmpBytes(Width, 120));
        return true;
    }
    // The "JPEG" is the stamped BMP itself: the rules do not care about the encoding.
    bool BmpToJpeg(const std::string& bmpPath, const std::string& jpegPath, int quality) override {
        LastQuality = quality;
        if (!FileExists(bmpPath)) return false;
        WriteFile(jpegPath, ReadFile(bmpPath));
        return true;
    }
    bool TakeStreamEvent(int& kind, std::string& name) override {
        if (StreamEvents.empty()) return false;
        std::tie(kind, name) = StreamEvents.front();
        StreamEvents.pop_front();
        return true;
    }
    // The motion check: the test sets its verdict; the setups it was given are kept.
    std::atomic<bool> Confirmed{false};
    bool SetMotionCheck(const qv::engine::MotionCheckSetup& setup) override {
        std::lock_guard lock(StateMutex);
        Setups.push_back(setup);
        return true;
    }
    bool GetMotionCheck(qv::engine::MotionCheckVerdict& verdict) override {
        verdict = {};
        verdict.Confirmed = Confirmed.load();
        verdict.GridWidth = 4, verdict.GridHeight = 3;
        return true;
    }
    bool GetMotionCheckGrid(std::vector<uint8_t>& cells, std::vector<uint8_t>& luma) override {
        cells.assign(12, 0);
        cells[5] = 2;
        luma.assign(12, 128);
        return true;
    }
    qv::engine::MotionCheckSetup LastSetup() {
        std::lock_guard lock(StateMutex);
        return Setups.empty() ? qv::engine::MotionCheckSetup{} : Setups.back();
    }
    std::vector<qv::engine::MotionCheckSetup> Setups;  // under StateMutex
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
    void Notify(const std::string& title, const std::string& body, const std::string&, bool,
                bool) override {
        std::lock_guard lock(mutex_);
        notices_.push_back(title + " " + body);
    }
    std::vector<std::string> Notices() {
        std::lock_guard lock(mutex_);
        return notices_;
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
    std::vector<std::string> messages;  // window thread only

  private:
    std::mutex mutex_;
    std::deque<std::function<void()>> posted_;
    std::vector<std::string> notices_;
};

class FakeSound : public qv::sound::SoundPlayer {
  public:
    void Play(const std::string& path, bool loop) override {
        std::lock_guard lock(mutex_);
        plays_.push_back(path);
        looping_ = loop;
        playing_ = true;
    }
    void Stop() override {
        std::lock_guard lock(mutex_);
        playing_ = false;
    }
    std::vector<std::string> Plays() {
        std::lock_guard lock(mutex_);
        return plays_;
    }
    bool Playing() {
        std::lock_guard lock(mutex_);
        return playing_;
    }
    bool Looping() {
        std::lock_guard lock(mutex_);
        return looping_;
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> plays_;
    bool looping_ = false, playing_ = false;
};

}  // namespace qvtest
