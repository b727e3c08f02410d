// BMP reader and writer, JPEG writer and decoder.
#include "core/src/Pictures.h"

#include <sys/stat.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
// jpeglib.h needs FILE and size_t first.
#include <jpeglib.h>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>

#include "QuorCore.h"
#include "core/src/Message.h"
#include "platform/capture/Bitmap.h"
#include "platform/file/Owners.h"

namespace qv::core {

namespace {

using FilePtr = qv::UniqueFile;

// Reads little-endian fields and counts the bytes consumed.
class Cursor {
  public:
    Cursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t Pos() const { return pos_; }
    size_t Left() const { return size_ - pos_; }
    const uint8_t* Here() const { return data_ + pos_; }
    void Skip(size_t n) { pos_ += std::min(n, Left()); }

    bool Byte(uint8_t& out) {
        if (Left() < 1) return false;
        out = data_[pos_++];
        return true;
    }
    template <typename T>
    bool Field(T& out) {
        if (Left() < sizeof(T)) return false;
        uint64_t v = 0;
        for (size_t i = 0; i < sizeof(T); ++i) v |= uint64_t(data_[pos_ + i]) << (8 * i);
        pos_ += sizeof(T);
        out = static_cast<T>(v);
        return true;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

BmpPicture Fail(const std::string& status) {
    BmpPicture p;
    p.status = status;
    return p;
}

// libjpeg's error exit: format the text (never shown) and return to the caller's setjmp.
struct JpegErrors {
    jpeg_error_mgr pub;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr cinfo) {
    auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, errors->message);
    longjmp(errors->jump, 1);
}

void JpegQuiet(j_common_ptr) {}  // warnings of damaged data are not shown either

void InstallErrors(JpegErrors& errors) {
    jpeg_std_error(&errors.pub);
    errors.pub.error_exit = JpegErrorExit;
    errors.pub.output_message = JpegQuiet;
    errors.message[0] = '\0';
}

}  // namespace

namespace {

// Where the pixels of a checked BMP file are.
struct BmpLayout {
    std::string status = kBmpOk;
    int32_t width = 0;
    int32_t height = 0;
    uint16_t bitCount = 0;
    size_t offset = 0;
    size_t rowBytes = 0;
    size_t stride = 0;
    std::vector<uint8_t> palette;  // RGB triples, at least 256 for indexed pictures
};

BmpLayout FailLayout(const char* status) {
    BmpLayout l;
    l.status = status;
    return l;
}

BmpLayout ParseBmpLayout(const uint8_t* data, size_t size) {
    Cursor in(data, size);
    uint8_t b = 0, m = 0;
    if (!in.Byte(b) || b != 'B' || !in.Byte(m) || m != 'M') return FailLayout(kBmpNotBmp);

    uint32_t fileSize, offset, headerSize, compression, imageSize, colorsUsed, colorsImportant;
    uint16_t reserved1, reserved2, planes, bitCount;
    int32_t width, height, xRes, yRes;
    if (!in.Field(fileSize) || !in.Field(reserved1) || !in.Field(reserved2) || !in.Field(offset) ||
        !in.Field(headerSize) || !in.Field(width) || !in.Field(height) || !in.Field(planes) ||
        !in.Field(bitCount) || !in.Field(compression) || !in.Field(imageSize) || !in.Field(xRes) ||
        !in.Field(yRes) || !in.Field(colorsUsed) || !in.Field(colorsImportant)) {
        return FailLayout(kBmpReadErrorHeader);
    }
    if (compression != 0) return FailLayout(kBmpCompressed);
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24) {
        return FailLayout(kBmpUnsupportedBits);
    }
    if (colorsUsed == 0) colorsUsed = 1u << bitCount;

    // Indexes past the entries the file gives stay black.
    BmpLayout l;
    if (bitCount <= 8) {
        if (uint64_t(colorsUsed) * 4 > in.Left()) return FailLayout(kBmpReadErrorHeader);
        l.palette.assign(size_t(std::max<uint32_t>(colorsUsed, 256)) * 3, 0);
        for (uint32_t i = 0; i < colorsUsed; ++i) {
            const uint8_t* e = in.Here();
            l.palette[3 * i] = e[2];
            l.palette[3 * i + 1] = e[1];
            l.palette[3 * i + 2] = e[0];
            in.Skip(4);
        }
    }
    if (in.Pos() > offset) return FailLayout(kBmpCorruptPalette);

    // Only sizes whose pixel rows the file really holds (the last row may lack its padding).
    if (width <= 0 || height <= 0) return FailLayout(kBmpBadSize);
    const uint64_t rowBytes = (uint64_t(width) * bitCount + 7) / 8;
    const uint64_t stride = (rowBytes + 3) & ~uint64_t{3};
    const uint64_t needed = stride * uint64_t(height - 1) + rowBytes;
    if (offset > size || needed > size - offset) return FailLayout(kBmpBadSize);
    l.width = width;
    l.height = height;
    l.bitCount = bitCount;
    l.offset = offset;
    l.rowBytes = size_t(rowBytes);
    // Padding runs to a multiple of 4 from the pixel data offset.
    l.stride = size_t(stride);
    return l;
}

// The rows of a file the layout was taken from, top-down RGB.
BmpPicture DecodeRows(const BmpLayout& l, const uint8_t* data) {
    BmpPicture p;
    p.width = l.width;
    p.height = l.height;
    const size_t rowOut = size_t(l.width) * 3;
    try {
        p.rgb.resize(rowOut * size_t(l.height));
    } catch (const std::bad_alloc&) {
        return Fail(kBmpAllocFailed);
    }
    for (int32_t row = 0; row < l.height; ++row) {
        uint8_t* dst = p.rgb.data() + size_t(l.height - 1 - row) * rowOut;
        const uint8_t* src = data + l.offset + size_t(row) * l.stride;
        if (l.bitCount == 24) {
            for (int32_t x = 0; x < l.width; ++x) {
                dst[3 * x] = src[3 * x + 2];
                dst[3 * x + 1] = src[3 * x + 1];
                dst[3 * x + 2] = src[3 * x];
            }
        } else {
            const int perByte = 8 / l.bitCount;
            const unsigned mask = (1u << l.bitCount) - 1;
            for (int32_t x = 0; x < l.width; ++x) {
                const int shift = 8 - l.bitCount * (x % perByte + 1);
                const unsigned index = (src[x / perByte] >> shift) & mask;
                std::memcpy(dst + 3 * x, &l.palette[3 * index], 3);
            }
        }
    }
    return p;
}

// The whole file in memory.
struct FileBytes {
    std::vector<uint8_t> data;
    size_t size = 0;
    std::string status = kBmpOk;
};

FileBytes LoadFile(const std::string& path) {
    FileBytes f;
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        f.status = std::string(kBmpCantOpen) + path;
        return f;
    }
    struct stat st {};
    if (fstat(fileno(file.get()), &st) != 0 || !S_ISREG(st.st_mode)) {
        f.status = kBmpReadErrorHeader;
        return f;
    }
    try {
        f.data.resize(size_t(st.st_size) + 1);
    } catch (const std::bad_alloc&) {
        f.status = kBmpAllocFailed;
        return f;
    }
    f.size = std::fread(f.data.data(), 1, size_t(st.st_size), file.get());
    return f;
}

}  // namespace

BmpPicture ParseBmp(const uint8_t* data, size_t size) {
    const BmpLayout l = ParseBmpLayout(data, size);
    if (l.status != kBmpOk) return Fail(l.status);
    return DecodeRows(l, data);
}

BmpPicture ReadBmp(const std::string& path) {
    const FileBytes f = LoadFile(path);
    if (f.status != kBmpOk) return Fail(f.status);
    return ParseBmp(f.data.data(), f.size);
}

namespace {

// Compresses rows handed out top-down by rowAt, pixels in the given colour order.
bool WriteJpegRows(const std::string& path, int32_t width, int32_t height, int quality,
                   J_COLOR_SPACE space, const std::function<const uint8_t*(int32_t)>& rowAt) {
    quality = std::clamp(quality, 0, 100);
    jpeg_compress_struct cinfo{};
    JpegErrors errors;
    cinfo.err = &errors.pub;
    InstallErrors(errors);
    // The file is opened before the jump point so nothing set after it needs to survive a
    // libjpeg error.
    FilePtr file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        ShowMessage("JpegFile :\nCan't open " + path + "\n", "Error");
        return false;
    }
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_compress(&cinfo);
        return false;  // a partly written file may remain
    }
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file.get());
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    // libjpeg-turbo reads BGR itself (same arithmetic as RGB input) once defaults are set.
    cinfo.in_color_space = space;
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rowAt(int32_t(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

}  // namespace

bool WriteJpeg(const std::string& path, const uint8_t* rgb, int32_t width, int32_t height,
               int quality) {
    const size_t rowBytes = size_t(width) * 3;
    return WriteJpegRows(path, width, height, quality, JCS_RGB,
                         [&](int32_t y) { return rgb + size_t(y) * rowBytes; });
}

unsigned char* DecodeJpeg(const std::string& path, unsigned int* width, unsigned int* height,
                          uint64_t maxPixels) {
    *width = 0;
    *height = 0;
    FilePtr file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        ShowMessage("JPEG :\nCan't open " + path + "\n", "Error");
        return nullptr;
    }
    jpeg_decompress_struct cinfo{};
    JpegErrors errors;
    cinfo.err = &errors.pub;
    InstallErrors(errors);
    unsigned char* volatile block = nullptr;
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        ReleaseBlock(block);
        *width = 0;
        *height = 0;
        return nullptr;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file.get());
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    const uint64_t w = cinfo.output_width, h = cinfo.output_height;
    if (w * h <= maxPixels) block = static_cast<unsigned char*>(AllocateBlock(w * h * 3));
    if (block == nullptr) {
        ShowMessage("JpegFile :\nOut of memory", "Error");
        jpeg_destroy_decompress(&cinfo);
        return nullptr;
    }
    *width = cinfo.output_width;
    *height = cinfo.output_height;
    const int components = cinfo.output_components;
    JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                cinfo.output_width * components, 1);
    while (cinfo.output_scanline < cinfo.output_height) {
        unsigned char* dst = block + size_t(cinfo.output_scanline) * w * 3;
        jpeg_read_scanlines(&cinfo, row, 1);
        const unsigned char* src = row[0];
        if (components == 3) {
            for (uint64_t x = 0; x < w; ++x) {
                dst[3 * x] = src[3 * x + 2];
                dst[3 * x + 1] = src[3 * x + 1];
                dst[3 * x + 2] = src[3 * x];
            }
        } else if (components == 1) {
            for (uint64_t x = 0; x < w; ++x) dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = src[x];
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return block;
}

std::string SaveBmp(const std::string& path, const uint8_t* pixels, uint32_t width,
                    uint32_t height) {
    FilePtr file(std::fopen(path.c_str(), "wb"));
    if (!file) return "Can't open file for writing";
    const uint64_t stride = ((uint64_t(width) * 24 + 31) / 32) * 4;
    const auto head = bitmap::FileHeader(40, static_cast<uint32_t>(stride * height));
    const auto info =
        bitmap::InfoHeader(static_cast<int32_t>(width), static_cast<int32_t>(height), 24, 0, 0);
    if (std::fwrite(head.data(), 1, head.size(), file.get()) != head.size() ||
        std::fwrite(info.data(), 1, info.size(), file.get()) != info.size()) {
        return "fwrite error\nGiving up";
    }
    const size_t rowBytes = size_t(width) * 3;
    const uint8_t zeros[4] = {};
    for (uint32_t y = 0; y < height; ++y) {
        if ((rowBytes > 0 &&
             std::fwrite(pixels + size_t(y) * rowBytes, 1, rowBytes, file.get()) != rowBytes) ||
            std::fwrite(zeros, 1, stride - rowBytes, file.get()) != stride - rowBytes) {
            return "fwrite error\nGiving up";
        }
    }
    if (std::fclose(file.release()) != 0) return "fwrite error\nGiving up";
    return kBmpOk;
}

void* AllocateBlock(size_t size) {
    return std::calloc(size == 0 ? 1 : size, 1);
}

void ReleaseBlock(void* block) {
    std::free(block);
}

}  // namespace qv::core

extern "C" {

// Picture-saving and mail threads.
QV_API int QvCoreBMP2JPG(char* const bmpPath, char* const jpegPath, int quality) {
    using namespace qv::core;
    if (bmpPath == nullptr || jpegPath == nullptr) return 0;
    const FileBytes file = LoadFile(bmpPath);
    if (file.status != kBmpOk) return 0;
    const BmpLayout layout = ParseBmpLayout(file.data.data(), file.size);
    if (layout.status != kBmpOk) return 0;
    // The writer reports its own failures; the result says the BMP was read.
    if (layout.bitCount == 24) {
        // Straight from the file's rows: bottom-up, blue, green, red.
        const uint8_t* pixels = file.data.data() + layout.offset;
        WriteJpegRows(jpegPath, layout.width, layout.height, quality, JCS_EXT_BGR, [&](int32_t y) {
            return pixels + size_t(layout.height - 1 - y) * layout.stride;
        });
        return 1;
    }
    const BmpPicture picture = DecodeRows(layout, file.data.data());
    if (!picture.Ok()) return 0;
    WriteJpeg(jpegPath, picture.rgb.data(), picture.width, picture.height, quality);
    return 1;
}

QV_API int QvConvertBMPToJPG(char* const bmpPath, char* const jpegPath, unsigned long flags) {
    return QvCoreBMP2JPG(bmpPath, jpegPath, static_cast<int>(flags & 0xFF));
}

// Window thread (the picture viewer).
QV_API unsigned char* QvCoreJPG2RGB(char* path, unsigned int* width, unsigned int* height) {
    unsigned int w = 0, h = 0;
    unsigned char* block = path != nullptr ? qv::core::DecodeJpeg(path, &w, &h) : nullptr;
    if (width != nullptr) *width = w;
    if (height != nullptr) *height = h;
    return block;
}

QV_API void QvCoreFreeJpegMem(unsigned char* pixels) {
    qv::core::ReleaseBlock(pixels);
}

QV_API void QvCoreSaveBMP(const char* path, unsigned char* pixels, unsigned int width,
                          unsigned int height) {
    if (path == nullptr || (pixels == nullptr && uint64_t(width) * height != 0)) return;
    qv::core::SaveBmp(path, pixels, width, height);
}

}  // extern "C"
