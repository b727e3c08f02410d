// The engine's two clocks: a 32-bit millisecond tick counter that wraps (deadlines are tested
// by signed difference) and the wall clock with milliseconds. Tests inject their own.
#pragma once

#include <cstdint>
#include <ctime>

namespace qv::engine {

struct WallTime {
    int64_t Seconds = 0;  // since 1970, UTC
    int32_t Millis = 0;
};

class Clock {
  public:
    virtual ~Clock() = default;
    // Any thread. Milliseconds of a monotonic clock, wrapping after 49.7 days.
    virtual uint32_t TickMs() = 0;
    // Any thread. The wall-clock time now.
    virtual WallTime Now() = 0;
};

// CLOCK_MONOTONIC and CLOCK_REALTIME.
Clock& SystemClock();

// True when the deadline is reached: deadline - now, as a signed difference, is below 1.
inline bool DeadlineReached(uint32_t deadline, uint32_t now) {
    return static_cast<int32_t>(deadline - now) < 1;
}

// now + ms on the wrapping counter.
inline uint32_t DeadlineAfter(uint32_t now, int64_t ms) {
    return now + static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

// Local calendar time of a wall-clock second.
inline std::tm LocalTime(int64_t seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm out{};
    localtime_r(&t, &out);
    return out;
}

}  // namespace qv::engine
