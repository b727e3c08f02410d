// A started library with scripted cameras in the device list, a host window and a
// notification counter; every test starts from QvStartup and ends with QvCleanup.
#pragma once

#include <gtest/gtest.h>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "core/include/QuorCore.h"
#include "platform/capture/CaptureSession.h"
#include "tests/support/TestSupport.h"
#include "tests/support/capture/ScriptedDriver.h"

namespace qvtest {

// Counts the frame notifications the library posts to it.
class NotifyWindow : public QWidget {
  public:
    int notifications = 0;

  protected:
    bool event(QEvent* e) override;
};

// Runs f on its own thread while this (the window) thread keeps its event loop going.
void OnOtherThread(const std::function<void()>& f);

class DeviceTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Registers the scripted cameras (in order) and starts the library.
    void UseCameras(const std::vector<std::shared_ptr<ScriptedSource>>& sources,
                    const std::vector<std::string>& names = {});
    // One camera of the format, opened as device 0.
    std::shared_ptr<ScriptedSource> OpenCamera(const qv::capture::VideoFormat& format);
    qv::capture::CaptureSession* Session();
    // Queues a frame and grabs it: the frame callback runs at once; returns the level.
    long GrabLevel(const std::shared_ptr<ScriptedSource>& source, std::vector<uint8_t> frame);
    unsigned long Get(unsigned long id);
    std::vector<char> Path(const std::string& name) const;

    TempDir temp_;
    std::string oldTmp_;
    std::unique_ptr<NotifyWindow> host_;
};

}  // namespace qvtest
