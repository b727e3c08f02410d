// What the engine needs of the core library, as an interface so that the engine's tests can
// run on a scripted device. QuorCoreApi forwards to libquorcore.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/settings/StreamSources.h"

namespace qv::engine {

// The parts of a bitmap information header the engine shows.
struct VideoFormatInfo {
    int32_t Width = 0;
    int32_t Height = 0;
    int32_t BitCount = 0;
};

// Device state ids and values the engine uses (the library's numbers).
namespace state {
inline constexpr unsigned long DisplayMode = 0x1000;
inline constexpr unsigned long DisplayCaps = 0x1001;
inline constexpr unsigned long WindowX = 0x1008;
inline constexpr unsigned long WindowY = 0x1009;
inline constexpr unsigned long WindowWidth = 0x100A;
inline constexpr unsigned long WindowHeight = 0x100B;
inline constexpr unsigned long MotionMode = 0x1100;
inline constexpr unsigned long MotionLevel = 0x1101;
inline constexpr unsigned long DialogCaps = 0x1800;  // which driver dialogs the device offers
inline constexpr unsigned long DisplayPreview = 2;
inline constexpr unsigned long DisplayOverlay = 4;
inline constexpr unsigned long MotionOff = 1;
inline constexpr unsigned long MotionMeasure = 2;
inline constexpr unsigned long MotionShow = 4;
// A network camera connects first and may go away (read only).
inline constexpr unsigned long DeviceLink = 0x2001;
inline constexpr unsigned long LinkConnecting = 1;
inline constexpr unsigned long LinkLost = 2;
}  // namespace state

// The motion check's values and ignore mask (MotionCheckNoise, MotionCheckArea, MotionCheckMs,
// MotionMask of a mode).
struct MotionCheckSetup {
    int NoiseTenths = 40;
    int AreaTenths = 8;
    int PersistMs = 700;
    std::string Mask;
    bool operator==(const MotionCheckSetup&) const = default;
};

// The check's verdict on the last analysed frame.
struct MotionCheckVerdict {
    bool Confirmed = false;    // person-sized motion that lasted long enough
    bool Moving = false;       // person-sized motion in the last frame
    bool LightChange = false;  // the light changed and was followed
    bool SceneChange = false;  // too much changed at once
    int NoiseTenths = 0;       // learned noise, tenths of a luma level
    int GridWidth = 0, GridHeight = 0;
    struct Box {
        int X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;  // cells, X1 and Y1 exclusive
    };
    std::vector<Box> Blobs;
};

class CoreApi {
  public:
    virtual ~CoreApi() = default;
    // Window thread.
    virtual int Startup() = 0;
    virtual int Cleanup() = 0;
    virtual int GetDeviceCount() = 0;
    virtual bool GetDeviceName(int index, std::string& name) = 0;
    // window: the host window (QWidget*) that parents the preview and gets the frame notices.
    virtual bool StartupDevice(void* window, int index) = 0;
    // Closes the open device (before another one is started).
    virtual void CleanupDevice() = 0;
    // The stream cameras the device list offers after the next Startup.
    virtual void SetStreamSources(const std::vector<StreamSource>& sources) = 0;
    // A driver dialog of the open device (state DialogCaps tells which); returns when closed.
    virtual void OpenDriverDialog(unsigned long dialog) = 0;
    virtual void SetPreviewRate(int framesPerSecond) = 0;
    virtual bool GetVideoFormat(VideoFormatInfo& format) = 0;
    // Any thread (the window thread and MainThread).
    virtual bool GetState(unsigned long id, unsigned long& value) = 0;
    virtual bool SetState(unsigned long id, unsigned long value) = 0;
    // CaptureThread. Grabs the current frame into a BMP file; the window thread must keep
    // running its event loop meanwhile.
    virtual bool CaptureSingleFrame(const std::string& bmpPath) = 0;
    // HdThread. quality 0..255.
    virtual bool BmpToJpeg(const std::string& bmpPath, const std::string& jpegPath,
                           int quality) = 0;
    // Window thread. The next loss or return of a stream camera (kind 3 or 4) and its name;
    // false when none is waiting.
    virtual bool TakeStreamEvent(int& kind, std::string& name) {
        (void)kind;
        (void)name;
        return false;
    }
    // Any thread. The motion check runs on every analysed frame with these values; masked
    // pixels count for neither the level nor the check. False for a mask the library refuses.
    virtual bool SetMotionCheck(const MotionCheckSetup& setup) = 0;
    // Any thread. The check's verdict; false before it has seen a frame.
    virtual bool GetMotionCheck(MotionCheckVerdict& verdict) = 0;
    // Any thread. Per cell of the check's grid (GridWidth x GridHeight, top row first): cells
    // 0 still, 1 changed above the noise, 2 counting motion, 3 masked; luma the picture's
    // brightness 0..255. False when there is none yet.
    virtual bool GetMotionCheckGrid(std::vector<uint8_t>& cells, std::vector<uint8_t>& luma) = 0;
};

// The real library (only when the program is linked with libquorcore).
std::unique_ptr<CoreApi> MakeQuorCoreApi();

}  // namespace qv::engine
