#include "app/imaging/PictureConversion.h"

#include <png.h>

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "app/imaging/DibImage.h"
#include "app/imaging/ReduceColours.h"

#include "QuorCore.h"
#include "platform/file/Owners.h"

namespace qv {
namespace {

// Settings read from the file may be out of range; they are kept to what the dialog offers.
struct Format {
    int Type, PictQuality, Width, Height, Aspect, ColorNum, ColQuality;
};

template <class R>
int Offered(int32_t R::*member, int32_t value, int32_t max = INT32_MAX) {
    const SettingKey& k = KeyOf(member);
    return std::clamp<int>(value, k.Min, std::min(k.Max, max));
}

Format FormatOf(const PictSettings& p) {
    Format f;
    f.Type = p.Type;
    f.PictQuality = Offered(&PictSettings::PictQuality, p.PictQuality,
                            p.Type == 1 ? INT32_MAX : kPngQualityMax);
    f.Width = Offered(&PictSettings::Width, p.Width);
    f.Height = Offered(&PictSettings::Height, p.Height);
    f.Aspect = p.Aspect != 0 ? 1 : 0;
    f.ColorNum = Offered(&PictSettings::ColorNum, p.ColorNum);
    f.ColQuality = Offered(&PictSettings::ColQuality, p.ColQuality);
    return f;
}

// Loads a picture and brings it to 24 bits when it is not already.
bool LoadTrueColour(const std::string& path, DibImage& picture) {
    if (!picture.LoadBmp(path)) return false;
    if (picture.BitCount() == 24 && picture.Header().Compression == bitmap::kRgb) return true;
    DibImage converted;
    if (!picture.ToTrueColour(converted)) return false;
    picture = std::move(converted);
    return true;
}

struct PngWriter {
    png_structp Png = nullptr;
    png_infop Info = nullptr;
    ~PngWriter() {
        if (Png) png_destroy_write_struct(&Png, Info ? &Info : nullptr);
    }
};

// Everything the libpng calls need is made before setjmp, so a longjmp back here skips no
// destructor and no local changes after it.
bool EncodePng(FILE* file, const DibImage& picture, int level, bool manyColours) {
    PngWriter writer;
    writer.Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!writer.Png) return false;
    writer.Info = png_create_info_struct(writer.Png);
    if (!writer.Info) return false;

    const bool palette = picture.BitCount() == 8;
    const png_uint_32 width = static_cast<png_uint_32>(picture.Width());
    const int32_t height = picture.Height();
    std::vector<png_color> colours(256, png_color{0, 0, 0});
    if (palette) {
        const uint8_t* table = picture.ColourTable();
        const size_t entries = std::min<size_t>(picture.ColourCount(), 256);
        for (size_t n = 0; n < entries; ++n)
            colours[n] = png_color{table[4 * n + 2], table[4 * n + 1], table[4 * n]};
    }
    std::vector<png_const_bytep> rows(static_cast<size_t>(height));
    for (int32_t y = 0; y < height; ++y) rows[y] = picture.Row(height - 1 - y);  // top first

    if (setjmp(png_jmpbuf(writer.Png))) return false;
    png_init_io(writer.Png, file);
    png_set_compression_level(writer.Png, level);
    if (manyColours) png_set_compression_mem_level(writer.Png, 9);
    png_set_IHDR(writer.Png, writer.Info, width, static_cast<png_uint_32>(height), 8,
                 palette ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (palette) png_set_PLTE(writer.Png, writer.Info, colours.data(), 256);
    png_write_info(writer.Png, writer.Info);
    png_set_packing(writer.Png);
    png_set_bgr(writer.Png);
    for (int32_t y = 0; y < height; ++y) png_write_row(writer.Png, rows[y]);
    png_write_end(writer.Png, writer.Info);
    return true;
}

}  // namespace

int ColourCountOfStep(int colorNum) {
    switch (colorNum) {
        case 33:
            return 256;
        case 34:
            return 32768;
        case 35:
            return 65536;
        case 36:
            return 16777216;
        default:
            return std::clamp(colorNum, 1, 32) * 8;
    }
}

// Called on the mail thread.
bool ResizePicture(const std::string& source, const std::string& destination,
                   const PictSettings& pict) {
    const Format f = FormatOf(pict);
    DibImage picture;
    if (!LoadTrueColour(source, picture)) return false;
    const int32_t width = picture.Width(), height = picture.Height();
    DibImage result;
    if (f.Aspect == 0) {
        if (!picture.ScaleDib(f.Width, f.Height, result)) return false;
    } else {
        // Integer percentages; a source far smaller than the target still gives 1.
        const int64_t widthRatio = std::max<int64_t>(int64_t{width} * 100 / f.Width, 1);
        const int64_t heightRatio = std::max<int64_t>(int64_t{height} * 100 / f.Height, 1);
        int64_t scaledWidth, scaledHeight;
        if (widthRatio < heightRatio) {
            scaledWidth = f.Width;
            scaledHeight = int64_t{height} * 100 / widthRatio;
        } else {
            scaledWidth = int64_t{width} * 100 / heightRatio;
            scaledHeight = f.Height;
        }
        if (scaledWidth > 16384 || scaledHeight > 16384) return false;
        DibImage scaled;
        if (!picture.ScaleDib(static_cast<int32_t>(scaledWidth), static_cast<int32_t>(scaledHeight),
                              scaled) ||
            !scaled.CropDib(f.Width, f.Height, result))
            return false;
    }
    return result.SaveBmp(destination);
}

// Called on the mail thread.
int ConvertColours(const std::string& source, const std::string& destination,
                   const PictSettings& pict) {
    const Format f = FormatOf(pict);
    if (f.ColorNum <= 32) {
        // The dialog offers the step as step x 8 colours; that is what the user asked for.
        return ReduceColours(source, destination, f.ColQuality, ColourCountOfStep(f.ColorNum));
    }
    if (f.ColorNum == 36) {
        std::error_code error;
        std::filesystem::copy_file(source, destination,
                                   std::filesystem::copy_options::overwrite_existing, error);
        return error ? 0 : 1;
    }
    DibImage picture, result;
    if (!LoadTrueColour(source, picture)) return 0;
    const bool ok = f.ColorNum == 33 ? picture.PopularColours(result)
                                     : picture.MaskChannels(f.ColorNum == 34 ? 15 : 16, result);
    return ok && result.SaveBmp(destination) ? 1 : 0;
}

// Called on the mail thread.
bool EncodePicture(const std::string& source, const std::string& destination,
                   const PictSettings& pict) {
    const Format f = FormatOf(pict);
    if (f.Type == 0)
        return WritePng(source, destination, ColourCountOfStep(f.ColorNum), f.PictQuality);
    if (f.Type == 1) {
        std::string bmp = source, jpeg = destination;
        return QvCoreBMP2JPG(bmp.data(), jpeg.data(), (f.PictQuality * 5) & 0xFF) == 1 &&
               std::filesystem::exists(destination);
    }
    return false;
}

// Called on the mail thread.
bool WritePng(const std::string& source, const std::string& destination, int colours,
              int compressionLevel) {
    DibImage picture;
    if (!picture.LoadBmp(source)) return false;
    // The layout follows the file, not the colour count asked for, so rows are never read
    // at the wrong width.
    if (picture.BitCount() != 8 && picture.BitCount() != 24) {
        DibImage converted;
        if (!picture.ToTrueColour(converted)) return false;
        picture = std::move(converted);
    }
    if (picture.Header().Compression != bitmap::kRgb) return false;
    qv::UniqueFile file(std::fopen(destination.c_str(), "wb"));
    if (!file) return false;
    bool ok = EncodePng(file.get(), picture, std::clamp(compressionLevel, 0, 9), colours > 256);
    if (std::fclose(file.release()) != 0) ok = false;
    if (!ok) RemovePartial(destination);
    return ok;
}

}  // namespace qv
