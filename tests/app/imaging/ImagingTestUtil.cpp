#include "tests/app/imaging/ImagingTestUtil.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace qvimagingtest {
namespace {

void Put(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

std::string BmpFile::Bytes() const {
    const uint64_t tableEnd = 54 + Table.size();
    const uint64_t offset =
        PixelOffset >= 0 ? static_cast<uint64_t>(PixelOffset) : tableEnd + Gap.size();
    const uint64_t total = tableEnd + Gap.size() + Pixels.size();
    std::string out;
    out.append(Magic, 2);
    Put(out, FileSize ? FileSize : total, 4);
    Put(out, 0, 4);
    Put(out, offset, 4);
    Put(out, HeaderSize, 4);
    Put(out, static_cast<uint32_t>(Width), 4);
    Put(out, static_cast<uint32_t>(Height), 4);
    Put(out, 1, 2);
    Put(out, BitCount, 2);
    Put(out, Compression, 4);
    Put(out, SizeImage >= 0 ? static_cast<uint64_t>(SizeImage) : Pixels.size(), 4);
    Put(out, 2835, 4);
    Put(out, 2835, 4);
    Put(out, ClrUsed, 4);
    Put(out, 0, 4);
    out.append(Table.begin(), Table.end());
    out.append(Gap.begin(), Gap.end());
    out.append(Pixels.begin(), Pixels.end());
    return out;
}

qv::DibImage MakePicture(int32_t width, int32_t height,
                         const std::function<Bgr(int32_t x, int32_t y)>& pixel) {
    qv::DibImage picture;
    picture.Create(width, height, 24);
    for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = picture.Row(y);
        for (int32_t x = 0; x < width; ++x) {
            const Bgr c = pixel(x, y);
            row[3 * x] = c.B;
            row[3 * x + 1] = c.G;
            row[3 * x + 2] = c.R;
        }
    }
    return picture;
}

Bgr PixelAt(const qv::DibImage& picture, int32_t x, int32_t y) {
    const uint8_t* p = picture.Row(y) + 3 * x;
    return {p[0], p[1], p[2]};
}

uint8_t IndexAt(const qv::DibImage& picture, int32_t x, int32_t y) {
    return picture.Row(y)[x];
}

Bgr PaletteEntry(const qv::DibImage& picture, int n) {
    const uint8_t* e = picture.ColourTable() + 4 * n;
    return {e[0], e[1], e[2]};
}

namespace {

struct Reader {
    png_structp Png = nullptr;
    png_infop Info = nullptr;
    FILE* File = nullptr;
    ~Reader() {
        if (Png) png_destroy_read_struct(&Png, Info ? &Info : nullptr, nullptr);
        if (File) std::fclose(File);
    }
};

bool Decode(Reader& r, PngPicture& out, std::vector<uint8_t>& rgb) {
    if (setjmp(png_jmpbuf(r.Png))) return false;
    png_init_io(r.Png, r.File);
    png_read_info(r.Png, r.Info);
    out.Width = png_get_image_width(r.Png, r.Info);
    out.Height = png_get_image_height(r.Png, r.Info);
    out.ColourType = png_get_color_type(r.Png, r.Info);
    out.BitDepth = png_get_bit_depth(r.Png, r.Info);
    png_colorp palette = nullptr;
    int entries = 0;
    if (png_get_PLTE(r.Png, r.Info, &palette, &entries) & PNG_INFO_PLTE) {
        out.PaletteEntries = entries;
        for (int i = 0; i < entries; ++i)
            out.Palette.push_back({palette[i].blue, palette[i].green, palette[i].red});
    }
    png_set_expand(r.Png);
    png_set_strip_16(r.Png);
    png_set_strip_alpha(r.Png);
    png_set_gray_to_rgb(r.Png);
    png_read_update_info(r.Png, r.Info);
    if (png_get_rowbytes(r.Png, r.Info) != out.Width * 3) return false;
    rgb.resize(static_cast<size_t>(out.Width) * out.Height * 3);
    for (uint32_t y = 0; y < out.Height; ++y)
        png_read_row(r.Png, rgb.data() + static_cast<size_t>(y) * out.Width * 3, nullptr);
    png_read_end(r.Png, nullptr);
    return true;
}

}  // namespace

PngPicture ReadPng(const std::string& path) {
    PngPicture out;
    Reader r;
    r.File = std::fopen(path.c_str(), "rb");
    if (!r.File) return out;
    r.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!r.Png) return out;
    r.Info = png_create_info_struct(r.Png);
    if (!r.Info) return out;
    std::vector<uint8_t> rgb;
    if (!Decode(r, out, rgb)) return PngPicture{};
    for (size_t i = 0; i + 2 < rgb.size(); i += 3)
        out.Pixels.push_back({rgb[i + 2], rgb[i + 1], rgb[i]});
    out.Ok = true;
    return out;
}

}  // namespace qvimagingtest
