// What the web server needs of the program, and nothing more: a snapshot of the state, the
// latest frame, the two commands and the folders of the event history. The server calls it
// from its own threads; an implementation must answer without waiting for the engine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/history/History.h"

namespace qv::web {

struct Status {
    bool Monitoring = false;
    int Mode = 1;  // 1..3
    int Level = 0;
    int Sensitivity = 0;  // of the current mode
    std::string Camera;
    std::vector<int> Levels;  // the last 60 s, oldest first
};

class WebBackend {
  public:
    virtual ~WebBackend() = default;
    virtual Status CurrentStatus() = 0;
    // The latest frame as a JPEG file's bytes; empty when there is none yet.
    virtual std::string SnapshotJpeg() = 0;
    // Act as the window's switches do; the window follows at once.
    virtual void SetMonitoring(bool on) = 0;
    virtual void SetMode(int mode) = 0;  // 1..3
    virtual history::Folders HistoryFolders() = 0;
};

}  // namespace qv::web
