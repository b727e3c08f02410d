// The weekly schedule as the main window applies it: the scheduler built from [Schedule] and the
// line the tray tooltip adds about the next change. Window thread.
#pragma once

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/schedule/Schedule.h"
#include "app/settings/Settings.h"

namespace qv::window {

class WindowSchedule {
  public:
    // Rebuilt from the settings: no scheduler while Enable is 0 or no rule reads.
    void Load(const ScheduleSettings& settings);
    bool Active() const { return scheduler_ != nullptr; }

    // The state to switch to when a boundary was crossed; checked at most once a second.
    std::optional<qv::schedule::State> Tick(std::time_t now, const qv::schedule::State& current);

    // "次の切替 12/08 08:00 モード１" for the tray tooltip; "" without a schedule or a change
    // within a week.
    std::string NextChangeLine(std::time_t now);

  private:
    std::vector<qv::schedule::Rule> rules_;
    std::unique_ptr<qv::schedule::Scheduler> scheduler_;
    std::time_t last_ = -1;
    std::time_t lineUntil_ = -1;  // the cached line holds until then
    std::string line_;
};

}  // namespace qv::window
