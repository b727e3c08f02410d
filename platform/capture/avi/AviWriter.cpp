#include "platform/capture/avi/AviWriter.h"

#include <algorithm>
#include <cstring>

namespace qv::capture {

namespace {

constexpr uint32_t kAvifHasIndex = 0x10;
constexpr uint32_t kAviifKeyframe = 0x10;
constexpr uint64_t kRiffLimit = 0xFFFFFFF0ull;

// Byte offsets of the values filled in at Close.
constexpr long kRiffSizeAt = 4;
constexpr long kHdrlSizeAt = 16;
constexpr long kTotalFramesAt = 48;     // avih.dwTotalFrames
constexpr long kMaxBytesPerSecAt = 36;  // avih.dwMaxBytesPerSec
constexpr long kAvihBufferAt = 60;      // avih.dwSuggestedBufferSize
constexpr long kStrhLengthAt = 140;     // strh.dwLength
constexpr long kStrhBufferAt = 144;     // strh.dwSuggestedBufferSize

void Put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void PutTag(std::vector<uint8_t>& b, const char* tag) {
    b.insert(b.end(), tag, tag + 4);
}

bool IsYuv(const VideoFormat& f) {
    return f.compression == bitmap::kYuy2 || f.compression == bitmap::kUyvy;
}

}  // namespace

AviWriter::AviWriter() = default;

AviWriter::~AviWriter() {
    if (file_) Close();
}

bool AviWriter::Open(const std::string& path, const VideoFormat& format,
                     uint32_t microSecPerFrame) {
    if (file_) Close();
    if (format.width == 0 || format.height == 0 || microSecPerFrame == 0) return false;
    file_.reset(std::fopen(path.c_str(), "wb"));
    if (!file_) return false;
    format_ = format;
    if (format_.imageSize == 0) format_.imageSize = FrameBytes(format_);
    microSecPerFrame_ = microSecPerFrame;
    index_.clear();
    maxFrame_ = 0;
    failed_ = false;
    position_ = 0;
    if (!WriteHeaders()) {
        file_.reset();
        return false;
    }
    return true;
}

bool AviWriter::WriteHeaders() {
    const bool bitfields = format_.compression == bitmap::kBitfields;
    std::vector<uint8_t> h;
    PutTag(h, "RIFF");
    Put32(h, 0);  // filled at Close
    PutTag(h, "AVI ");
    PutTag(h, "LIST");
    Put32(h, 0);  // hdrl size, below
    PutTag(h, "hdrl");
    // Main header.
    PutTag(h, "avih");
    Put32(h, 56);
    Put32(h, microSecPerFrame_);
    Put32(h, 0);  // max bytes per second, at Close
    Put32(h, 0);  // padding granularity
    Put32(h, kAvifHasIndex);
    Put32(h, 0);  // total frames, at Close
    Put32(h, 0);  // initial frames
    Put32(h, 1);  // streams
    Put32(h, format_.imageSize);
    Put32(h, format_.width);
    Put32(h, format_.height);
    for (int i = 0; i < 4; ++i) Put32(h, 0);
    // One video stream.
    const uint32_t strfSize = bitfields ? 52 : 40;
    PutTag(h, "LIST");
    Put32(h, 4 + 8 + 56 + 8 + strfSize);
    PutTag(h, "strl");
    PutTag(h, "strh");
    Put32(h, 56);
    PutTag(h, "vids");
    Put32(h, IsYuv(format_) ? format_.compression : 0);  // handler
    Put32(h, 0);                                         // flags
    Put16(h, 0);                                         // priority
    Put16(h, 0);                                         // language
    Put32(h, 0);                                         // initial frames
    Put32(h, microSecPerFrame_);                         // scale
    Put32(h, 1000000);                                   // rate: rate / scale = fps
    Put32(h, 0);                                         // start
    Put32(h, 0);                                         // length, at Close
    Put32(h, format_.imageSize);                         // suggested buffer
    Put32(h, 0xFFFFFFFFu);                               // quality: default
    Put32(h, 0);                                         // sample size: varies per chunk
    Put16(h, 0);
    Put16(h, 0);
    Put16(h, uint16_t(format_.width));
    Put16(h, uint16_t(format_.height));
    PutTag(h, "strf");
    Put32(h, strfSize);
    Put32(h, 40);
    Put32(h, format_.width);
    Put32(h, format_.height);  // positive: bottom-up for RGB
    Put16(h, 1);
    Put16(h, format_.bitCount);
    Put32(h, format_.compression);
    Put32(h, format_.imageSize);
    Put32(h, 0);
    Put32(h, 0);
    Put32(h, 0);
    Put32(h, 0);
    if (bitfields) {  // the 5-6-5 masks
        Put32(h, 0xF800);
        Put32(h, 0x07E0);
        Put32(h, 0x001F);
    }
    const uint32_t hdrlSize = uint32_t(h.size() - 20);
    std::memcpy(&h[kHdrlSizeAt], &hdrlSize, 4);  // little-endian host
    PutTag(h, "LIST");
    Put32(h, 0);  // movi size, at Close
    moviStart_ = h.size();
    PutTag(h, "movi");
    if (std::fwrite(h.data(), 1, h.size(), file_.get()) != h.size()) return false;
    position_ = h.size();
    return true;
}

bool AviWriter::AddFrame(const uint8_t* data, size_t size) {
    if (!file_ || failed_ || (data == nullptr && size != 0)) return false;
    const uint64_t chunk = 8 + size + (size & 1);
    // Room for this chunk, its index entry and the index header.
    if (position_ + chunk + 16 * (index_.size() + 1) + 8 > kRiffLimit) return false;
    std::vector<uint8_t> head;
    // Uncompressed DIB frames are '00db', anything else '00dc'.
    PutTag(head, IsYuv(format_) ? "00dc" : "00db");
    Put32(head, uint32_t(size));
    const uint8_t pad = 0;
    if (std::fwrite(head.data(), 1, 8, file_.get()) != 8 ||
        (size > 0 && std::fwrite(data, 1, size, file_.get()) != size) ||
        ((size & 1) && std::fwrite(&pad, 1, 1, file_.get()) != 1)) {
        failed_ = true;
        return false;
    }
    index_.push_back({uint32_t(position_ - moviStart_), uint32_t(size)});
    position_ += chunk;
    maxFrame_ = std::max<uint32_t>(maxFrame_, uint32_t(size));
    return true;
}

bool AviWriter::Close() {
    if (!file_) return false;
    bool ok = !failed_;
    std::vector<uint8_t> idx;
    PutTag(idx, "idx1");
    Put32(idx, uint32_t(16 * index_.size()));
    const char* tag = IsYuv(format_) ? "00dc" : "00db";
    for (const IndexEntry& e : index_) {
        PutTag(idx, tag);
        Put32(idx, kAviifKeyframe);
        Put32(idx, e.offset);
        Put32(idx, e.size);
    }
    const uint64_t moviSize = position_ - moviStart_;
    ok = ok && std::fwrite(idx.data(), 1, idx.size(), file_.get()) == idx.size();
    const uint64_t total = position_ + idx.size();
    const uint64_t bytesPerSec =
        uint64_t(maxFrame_ ? maxFrame_ : format_.imageSize) * 1000000ull / microSecPerFrame_;
    struct Patch {
        long at;
        uint32_t value;
    };
    const uint32_t frames = FrameCount();
    const uint32_t buffer = maxFrame_ ? maxFrame_ : format_.imageSize;
    const Patch patches[] = {
        {kRiffSizeAt, uint32_t(total - 8)},
        {kMaxBytesPerSecAt, uint32_t(std::min<uint64_t>(bytesPerSec, 0xFFFFFFFFu))},
        {kTotalFramesAt, frames},
        {kAvihBufferAt, buffer},
        {kStrhLengthAt, frames},
        {kStrhBufferAt, buffer},
        {long(moviStart_ - 4), uint32_t(moviSize)},
    };
    for (const Patch& p : patches) {
        uint8_t le[4] = {uint8_t(p.value), uint8_t(p.value >> 8), uint8_t(p.value >> 16),
                         uint8_t(p.value >> 24)};
        ok = ok && std::fseek(file_.get(), p.at, SEEK_SET) == 0 &&
             std::fwrite(le, 1, 4, file_.get()) == 4;
    }
    FILE* f = file_.release();
    ok = (std::fclose(f) == 0) && ok;
    return ok;
}

}  // namespace qv::capture
