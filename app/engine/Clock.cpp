#include "app/engine/Clock.h"

#include <time.h>

namespace qv::engine {
namespace {

class RealClock : public Clock {
  public:
    uint32_t TickMs() override {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        uint64_t ms =
            static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
        return static_cast<uint32_t>(ms);
    }
    WallTime Now() override {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        return WallTime{static_cast<int64_t>(ts.tv_sec),
                        static_cast<int32_t>(ts.tv_nsec / 1000000)};
    }
};

}  // namespace

Clock& SystemClock() {
    static RealClock clock;
    return clock;
}

}  // namespace qv::engine
