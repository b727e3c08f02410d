// The stream camera: a video file or a network stream (RTSP, HTTP MJPEG, HTTP/HLS) decoded
// by FFmpeg on a thread of its own. TakeFrame hands out the newest picture as a bottom-up
// 24-bit BGR bitmap, or as YUY2 when the source is 4:2:2. Files loop at their end and play
// at their frame rate; a network stream that stops is reopened with a growing back-off while
// the window keeps running, and every loss and return is reported (callback and queue).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/capture/CaptureDriver.h"
#include "platform/capture/stream/StreamUrl.h"

namespace qv::capture {

// A change of a stream's connection.
struct StreamEvent {
    enum class Kind {
        Lost,      // the stream stopped (or could not be reached at all); retrying
        Restored,  // frames flow again after a loss
    };
    Kind kind = Kind::Lost;
    std::string name;    // the source's name (its device description)
    std::string url;     // the URL without credentials
    std::string detail;  // why it was lost, without credentials; empty for Restored
};

struct StreamOptions {
    std::string name;              // description given in events
    int firstFrameWaitMs = 3000;   // Open waits this long for the picture size
    int connectTimeoutMs = 10000;  // one attempt to open the source
    int stallTimeoutMs = 8000;     // no data this long from an open stream = lost
    int firstRetryMs = 1000;       // back-off: doubles after every failed attempt ...
    int maxRetryMs = 30000;        // ... up to this
    // Called on the decoding thread at every loss and return (besides the queue below).
    std::function<void(const StreamEvent&)> onEvent;
};

class StreamDriver : public CaptureDriver {
  public:
    // Used until the first connection tells the real size.
    static constexpr uint32_t kFallbackWidth = 640;
    static constexpr uint32_t kFallbackHeight = 480;

    StreamDriver(std::string url, StreamOptions options = {});
    ~StreamDriver() override;
    StreamDriver(const StreamDriver&) = delete;
    StreamDriver& operator=(const StreamDriver&) = delete;

    // Starts the decoding thread and waits up to firstFrameWaitMs for the first picture.
    // False only for a local file that cannot be played; an unreachable network source opens
    // (with a loss reported) and keeps being retried.
    bool Open() override;
    void Close() override;

    // The format of the frames TakeFrame delivers. It changes at most once on its own: when a
    // source that was unreachable at Open delivers its first picture.
    VideoFormat Format() const override;
    // The source's size, half and quarter size; 24-bit, and YUY2 too for a 4:2:2 source.
    std::vector<VideoFormat> Formats() const override;
    bool SetFormat(const VideoFormat& format) override;

    std::vector<DriverControl> Controls() override { return {}; }
    bool SetControl(uint32_t, int32_t) override { return false; }

    // Window thread. Never blocks on the network: only the hand-over lock is taken. While
    // the source is away it answers NoFrame (never Lost: it comes back on its own).
    FrameResult TakeFrame(std::vector<uint8_t>& dest) override;

    bool HasSourceDialog() const override { return false; }
    bool HasFormatDialog() const override { return true; }
    // Connecting until the first picture, Lost while away, Live while pictures come.
    LinkState Link() const override;

    // Polled by whoever cannot take the callback. Any thread.
    bool Connected() const;
    uint32_t Losses() const;
    uint32_t Restorations() const;
    // Frames decoded since Open (for tests and the benchmark).
    uint64_t FramesDecoded() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Every stream event of the process since the last call, oldest first (at most 256 kept).
// Any thread: the engine polls it from its tick to log the losses and returns.
std::vector<StreamEvent> TakeStreamEvents();

// The device-list entry of one stream source: its name as the description, the URL without
// credentials as the version.
DriverEntry StreamDriverEntry(const std::string& name, const std::string& url,
                              StreamOptions options = {});

}  // namespace qv::capture
