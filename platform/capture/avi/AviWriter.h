// Writes a sequence of uncompressed frames as a RIFF AVI file (AVI 1.0 with an idx1
// index), the file the sequence capture produces.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/capture/CaptureDriver.h"
#include "platform/file/Owners.h"

namespace qv::capture {

class AviWriter {
  public:
    AviWriter();
    ~AviWriter();  // closes an open file (as Close)
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // Creates the file for frames of the format at the given frame period.
    bool Open(const std::string& path, const VideoFormat& format, uint32_t microSecPerFrame);
    // Appends one frame as delivered (24-bit rows bottom-up as a DIB). False when the file
    // is not open, a write fails, or the file would pass the 4 GB a RIFF file can hold.
    bool AddFrame(const uint8_t* data, size_t size);
    // Writes the index and the final header values; false when any of it failed.
    bool Close();

    bool IsOpen() const { return file_ != nullptr; }
    uint32_t FrameCount() const { return static_cast<uint32_t>(index_.size()); }

  private:
    struct IndexEntry {
        uint32_t offset;  // from the 'movi' fourcc
        uint32_t size;
    };
    bool WriteHeaders();

    UniqueFile file_;
    VideoFormat format_;
    uint32_t microSecPerFrame_ = 0;
    uint64_t moviStart_ = 0;  // file offset of the 'movi' fourcc
    uint64_t position_ = 0;   // bytes written so far
    uint32_t maxFrame_ = 0;
    bool failed_ = false;
    std::vector<IndexEntry> index_;
};

}  // namespace qv::capture
