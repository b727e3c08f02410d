// A capture driver: one source of video frames (a V4L2 camera, the demo camera, a scripted
// source in tests). The capture window pulls frames from it on its own thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/capture/Bitmap.h"

namespace qv::capture {

// The format a driver delivers, in the terms of a Windows bitmap header: bitCount 24 with
// compression 0 (bottom-up BGR rows padded to 4 bytes), bitCount 16 with compression 0
// (RGB 5-5-5) or 3 (RGB 5-6-5), bitCount 16 with a YUY2 or UYVY FOURCC (bitmap::k...).
struct VideoFormat {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bitCount = 0;
    uint32_t compression = 0;
    uint32_t imageSize = 0;  // bytes of one frame as delivered

    bool operator==(const VideoFormat&) const = default;
};

// Bytes of one frame of the format (rows padded to 4 bytes for RGB).
uint32_t FrameBytes(const VideoFormat& format);

// One adjustable camera control (brightness, contrast, ...), for the source dialog.
struct DriverControl {
    enum class Kind { Integer, Boolean, Menu };
    uint32_t id = 0;
    std::string name;  // UTF-8, as the device names it
    Kind kind = Kind::Integer;
    int32_t minimum = 0;
    int32_t maximum = 0;
    int32_t step = 1;
    int32_t defaultValue = 0;
    int32_t value = 0;
    std::vector<std::string> menuItems;  // Kind::Menu: index = value - minimum
};

// How a source's connection stands. Local devices are Live until they vanish; network
// sources start Connecting and go Lost while they are away.
enum class LinkState { Live, Connecting, Lost };

enum class FrameResult {
    Frame,    // a new frame was copied out
    NoFrame,  // nothing new since the last call
    Lost,     // the device is gone; no frame will come again until it is reopened
};

class CaptureDriver {
  public:
    virtual ~CaptureDriver() = default;

    // Connect: open the device and start streaming in its current format.
    virtual bool Open() = 0;
    virtual void Close() = 0;

    virtual VideoFormat Format() const = 0;
    // The formats the format dialog offers, from the device's own lists.
    virtual std::vector<VideoFormat> Formats() const = 0;
    // Switches format while open (restarting the stream as needed).
    virtual bool SetFormat(const VideoFormat& format) = 0;

    virtual std::vector<DriverControl> Controls() = 0;
    virtual bool SetControl(uint32_t id, int32_t value) = 0;

    // Copies the newest frame not yet taken into dest (resized to Format().imageSize).
    // Never blocks for long: the window thread calls it at the preview rate.
    virtual FrameResult TakeFrame(std::vector<uint8_t>& dest) = 0;

    virtual bool HasSourceDialog() const = 0;
    virtual bool HasFormatDialog() const = 0;

    // Any thread.
    virtual LinkState Link() const { return LinkState::Live; }
};

// One entry of the device list.
struct DriverEntry {
    std::string description;  // UTF-8; the card name for V4L2 devices
    std::string version;
    std::function<std::unique_ptr<CaptureDriver>()> create;
};

// The device list in driver order, at most 10 entries: V4L2 /dev/video0..9 that open as
// capture devices, then the demo camera when QUORVEX_DEMO_CAMERA=1, then any sources
// added with SetExtraDrivers (scripted sources in tests, stream sources).
std::vector<DriverEntry> ListDrivers();

// Replaces the extra sources appended to the list (tests, stream cameras).
void SetExtraDrivers(std::vector<DriverEntry> extra);

}  // namespace qv::capture
