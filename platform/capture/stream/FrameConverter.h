// Decoded FFmpeg pictures to the layouts the stream camera delivers: bottom-up BGR rows
// padded to 4 bytes, or top-down YUY2 in full range. Any size from 1x1 up, odd ones too.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/capture/CaptureDriver.h"

struct AVFrame;

namespace qv::capture {

class FrameConverter {
  public:
    FrameConverter();
    ~FrameConverter();
    FrameConverter(const FrameConverter&) = delete;
    FrameConverter& operator=(const FrameConverter&) = delete;

    // Converts (and scales) frame into dst, resized to out.imageSize. False when the
    // picture is empty or the conversion cannot be set up. One thread at a time.
    bool Convert(const AVFrame* frame, const VideoFormat& out, std::vector<uint8_t>& dst);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace qv::capture
