// Stand-ins for the engine's surroundings: a clock the test moves, a core library whose
// level the test sets and whose "camera" writes a BMP, a window that records what it was
// asked, a silent sound player.
#pragma once

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/engine/Engine.h"
#include "app/imaging/DibImage.h"

namespace qvtest {

class FakeClock : public qv::engine::Clock {
  public:
    explicit FakeClock(uint32_t tick = 1000, int64_t seconds = 1057000000)
        : tick_(tick), seconds_(seconds) {}
    uint32_t TickMs() override { return tick_.load(); }
    qv::engine::WallTime Now() override {
        std::lock_guard lock(mutex_);
        return {seconds_, millis_};
    }
    // Moves both clocks on.
    void Advance(uint32_t ms) {
        tick_ += ms;
        std::lock_guard lock(mutex_);
        int64_t total = millis_ + static_cast<int64_t>(ms);
        seconds_ += total / 1000;
        millis_ = static_cast<int32_t>(total % 1000);
    }
    void SetWall(int64_t seconds, int32_t millis = 0) {
        std::lock_guard lock(mutex_);
        seconds_ = seconds;
        millis_ = millis;
    }

  private:
    std::atomic<uint32_t> tick_;
    std::mutex mutex_;
    int64_t seconds_;
    int32_t millis_ = 0;
};

// Seconds since 1970 of a local calendar time.
inline int64_t LocalSeconds(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&tm));
}

// A 24-bit (or 8-bit) test picture: a horizontal grey ramp.
inline bool WriteTestBmp(const std::string& path, int width, int height, int bitCount = 24) {
    qv::DibImage image;
    if (!image.Create(width, height, bitCount)) return false;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = image.Row(y);
        for (int x = 0; x < width; ++x) {
            uint8_t v = static_cast<uint8_t>(100 + (x % 50));
            if (bitCount == 24) {
                row[x * 3] = row[x * 3 + 1] = row[x * 3 + 2] = v;
            } else {
                row[x] = v;
            }
        }
    }
    return image.SaveBmp(path);
}

class FakeCore : public qv::engine::CoreApi {
  public:
    std::atomic<int> Level{0};
    std::atomic<int> PulseLevel{0};  // returned by one level read, then gone
    std::atomic<int> Captures{0};
    std::atomic<int> LastQuality{-1};
    std::atomic<bool> GarbageFrames{false};
    std::atomic<bool> BlockCapture{false};  // CaptureSingleFrame waits while true
    std::atomic<int> Width{160};
    std::atomic<int> Height{120};
    int DeviceCount = 1;
    std::vector<std::string> Names{"Scripted Camera"};
    bool FailStartup = false;
    std::atomic<int> StartupCalls{0}, CleanupCalls{0};
    std::mutex StateMutex;
    std::vector<std::pair<unsigned long, unsigned long>> StatesSet;

    std::deque<std::pair<int, std::string>> StreamEvents;  // window thread only

    int Startup() override { return 1; }
    bool TakeStreamEvent(int& kind, std::string& name) override {
        if (StreamEvents.empty()) return false;
        kind = StreamEvents.front().first;
        name = StreamEvents.front().second;
        StreamEvents.pop_front();
        return true;
    }
    int Cleanup() override {
        ++CleanupCalls;
        return 1;
    }
    int GetDeviceCount() override { return DeviceCount; }
    bool GetDeviceName(int index, std::string& name) override {
        if (index < 0 || index >= static_cast<int>(Names.size())) return false;
        name = Names[static_cast<size_t>(index)];
        return true;
    }
    bool StartupDevice(void*, int) override {
        ++StartupCalls;
        return !FailStartup;
    }
    void CleanupDevice() override { ++CleanupDeviceCalls; }
    void SetStreamSources(const std::vector<StreamSource>& sources) override { Sources = sources; }
    void OpenDriverDialog(unsigned long) override {}
    std::atomic<int> CleanupDeviceCalls{0};
    std::vector<StreamSource> Sources;
    void SetPreviewRate(int) override {}
    bool GetVideoFormat(qv::engine::VideoFormatInfo& format) override {
        format.Width = Width;
        format.Height = Height;
        format.BitCount = 24;
        return true;
    }
    bool GetState(unsigned long id, unsigned long& value) override {
        if (id == qv::engine::state::MotionLevel) {
            int pulse = PulseLevel.exchange(0);
            value = static_cast<unsigned long>(pulse ? pulse : Level.load());
            return true;
        }
        if (id == qv::engine::state::DisplayCaps) {
            value = qv::engine::state::DisplayPreview;
            return true;
        }
        return false;
    }
    bool SetState(unsigned long id, unsigned long value) override {
        std::lock_guard lock(StateMutex);
        StatesSet.emplace_back(id, value);
        return true;
    }
    bool CaptureSingleFrame(const std::string& bmpPath) override {
        while (BlockCapture) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ++Captures;
        if (GarbageFrames) {
            FILE* f = std::fopen(bmpPath.c_str(), "wb");
            if (f) {
                std::fputs("this is no picture", f);
                std::fclose(f);
            }
            return true;
        }
        return WriteTestBmp(bmpPath, Width, Height);
    }
    // The "JPEG" is the stamped BMP itself: the rules do not care about the encoding.
    bool BmpToJpeg(const std::string& bmpPath, const std::string& jpegPath, int quality) override {
        LastQuality = quality;
        FILE* in = std::fopen(bmpPath.c_str(), "rb");
        if (!in) return false;
        FILE* out = std::fopen(jpegPath.c_str(), "wb");
        bool ok = out != nullptr;
        char buffer[4096];
        size_t n;
        while (ok && (n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
            ok = std::fwrite(buffer, 1, n, out) == n;
        std::fclose(in);
        if (out) ok = std::fclose(out) == 0 && ok;
        return ok;
    }
};

class FakeHost : public qv::engine::EngineHost {
  public:
    void Repaint(qv::engine::Area area) override {
        std::lock_guard lock(mutex_);
        repaints_.push_back(area);
    }
    void Post(std::function<void()> fn) override {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(fn));
    }
    void EventListChanged() override { ++listChanges; }
    void SetEventListVisible(bool visible) override { listVisible = visible; }
    void ShowMessage(const std::string& text) override {
        std::lock_guard lock(mutex_);
        messages_.push_back(text);
    }
    void WindowPosition(int32_t& left, int32_t& top) override {
        left = 123;
        top = 45;
    }
    void EndMonitor() override { ended = true; }
    void* CaptureWindow() override { return this; }

    // The test thread plays the window thread: runs what was posted.
    void Pump() {
        std::deque<std::function<void()>> work;
        {
            std::lock_guard lock(mutex_);
            work.swap(posted_);
        }
        for (auto& fn : work) fn();
    }
    std::vector<std::string> Messages() {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    int RepaintCount(qv::engine::Area area) {
        std::lock_guard lock(mutex_);
        int n = 0;
        for (auto a : repaints_) n += a == area;
        return n;
    }

    std::atomic<bool> listVisible{true};
    std::atomic<int> listChanges{0};
    std::atomic<bool> ended{false};

  private:
    std::mutex mutex_;
    std::deque<std::function<void()>> posted_;
    std::vector<qv::engine::Area> repaints_;
    std::vector<std::string> messages_;
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
        ++stops_;
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
    int Stops() {
        std::lock_guard lock(mutex_);
        return stops_;
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> plays_;
    bool looping_ = false;
    bool playing_ = false;
    int stops_ = 0;
};

}  // namespace qvtest
