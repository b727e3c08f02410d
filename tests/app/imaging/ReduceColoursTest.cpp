// The colour reduction engine. Its quick histogram (only the occupied cells) is checked
// against a plain one written straight from the rules: full L^3 counters, slab-by-slab
// shrinking, every cell of a box visited, a cache cleared to 0xFFFF.
#include "app/imaging/ReduceColours.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <set>
#include <vector>

#include "tests/app/imaging/ImagingTestUtil.h"
#include "tests/app/imaging/PlainReducer.h"
#include "tests/support/TestSupport.h"

using qv::DibImage;
using qv::ReductionMemoryInput;
using qv::ReductionMemoryOutput;
using qv::ReductionParams;
using qvimagingtest::Bgr;
using qvimagingtest::MakePicture;
using qvimagingtest::PlainReducer;
using qvimagingtest::PlainResult;

namespace {

// ---- helpers ------------------------------------------------------------------------

ReductionParams MemoryParams(int quality, int colours) {
    ReductionParams params;
    params.InputKind = qv::kReduceMemory;
    params.OutputKind = qv::kReduceMemory;
    params.Mode = qv::kReduceMedianCut;
    params.Quality = static_cast<uint16_t>(quality);
    params.ColourCount = static_cast<uint16_t>(colours);
    return params;
}

struct MemoryRun {
    int Result = -99;
    ReductionMemoryOutput Output;
    qv::DibInfoHeader Header() const {
        qv::DibInfoHeader h{};
        std::memcpy(&h, Output.HeaderAndPalette.data(), 40);
        return h;
    }
    Bgr Entry(int n) const {
        const uint8_t* e = Output.HeaderAndPalette.data() + 40 + 4 * n;
        return {e[0], e[1], e[2]};
    }
};

MemoryRun Reduce(const DibImage& picture, const ReductionParams& params) {
    MemoryRun run;
    qv::DibInfoHeader header = picture.Header();
    ReductionMemoryInput input{&header, picture.PixelBlock().data(), picture.PixelBlock().size()};
    run.Result = qv::ReduceColours(&input, &run.Output, params);
    return run;
}

DibImage Noise(int32_t w, int32_t h, uint32_t seed) {
    std::mt19937 random(seed);
    return MakePicture(w, h, [&](int32_t, int32_t) {
        return Bgr{uint8_t(random()), uint8_t(random()), uint8_t(random())};
    });
}

DibImage Scene(int32_t w, int32_t h) {  // smooth areas with an edge, like a camera frame
    return MakePicture(w, h, [&](int32_t x, int32_t y) {
        if ((x - w / 2) * (x - w / 2) + (y - h / 2) * (y - h / 2) < h * h / 9)
            return Bgr{uint8_t(40 + y), uint8_t(60 + x / 2), uint8_t(200 - y)};
        return Bgr{uint8_t(x * 255 / w), uint8_t(y * 255 / h), uint8_t((x + y) % 256)};
    });
}

// ---- tests --------------------------------------------------------------------------

TEST(ReduceColoursTest, MatchesThePlainEngineAtEveryQuality) {
    std::mt19937 random(7);
    const std::vector<std::pair<std::string, DibImage>> pictures = [] {
        std::vector<std::pair<std::string, DibImage>> v;
        v.emplace_back("noise", Noise(23, 17, 1));
        v.emplace_back("scene", Scene(48, 36));
        v.emplace_back("few", MakePicture(20, 10, [](int32_t x, int32_t y) {
                           return Bgr{uint8_t(x < 10 ? 10 : 200), uint8_t(y * 20), 30};
                       }));
        return v;
    }();
    for (const auto& [name, picture] : pictures)
        for (int quality = 0; quality <= 4; ++quality)
            for (int colours : {1, 2, 3, 8, 24, 192, 256}) {
                SCOPED_TRACE(name + " quality " + std::to_string(quality) + " colours " +
                             std::to_string(colours));
                const PlainResult want = PlainReducer(picture, quality, colours).Run();
                const MemoryRun got = Reduce(picture, MemoryParams(quality, colours));
                ASSERT_EQ(got.Result, qv::kReduceDone);
                EXPECT_TRUE(std::equal(want.Palette.begin(), want.Palette.end(),
                                       got.Output.HeaderAndPalette.begin() + 40));
                EXPECT_EQ(got.Output.Pixels, want.Pixels);
            }
}

TEST(ReduceColoursTest, SaturatedCountersMatchThePlainEngine) {
    // 80,000 pixels in one cell: its counter stops at 65535.
    DibImage picture = MakePicture(400, 200, [](int32_t x, int32_t y) {
        if (x < 10 && y < 10) return Bgr{uint8_t(250 - x), 0, uint8_t(y * 20)};
        return Bgr{50, 100, 150};
    });
    for (int quality : {0, 2}) {
        const PlainResult want = PlainReducer(picture, quality, 4).Run();
        const MemoryRun got = Reduce(picture, MemoryParams(quality, 4));
        ASSERT_EQ(got.Result, qv::kReduceDone);
        EXPECT_TRUE(std::equal(want.Palette.begin(), want.Palette.end(),
                               got.Output.HeaderAndPalette.begin() + 40));
        EXPECT_EQ(got.Output.Pixels, want.Pixels);
    }
}

// Three cells, one per axis: which two share a box shows the axis the first cut took.
std::set<std::array<int, 3>> TwoColours(int q, std::array<Bgr, 3> cells) {
    DibImage picture = MakePicture(3, 1, [&](int32_t x, int32_t) { return cells[x]; });
    const MemoryRun run = Reduce(picture, MemoryParams(q, 2));
    EXPECT_EQ(run.Result, qv::kReduceDone);
    std::set<std::array<int, 3>> palette;  // red, green, blue
    for (int n = 0; n < 2; ++n) {
        const Bgr e = run.Entry(n);
        palette.insert({e.R, e.G, e.B});
    }
    return palette;
}

TEST(ReduceColoursTest, EqualExtentsAreCutInGreenThenBlue) {
    // Quality 0: level i is value 32 i. Cells at red 3, green 3, blue 3 apart: extents 3,3,3.
    const Bgr redCell{0, 0, 96}, greenCell{0, 96, 0}, blueCell{96, 0, 0};
    // A green cut puts the green cell alone; the others average.
    EXPECT_EQ(TwoColours(0, {redCell, greenCell, blueCell}),
              (std::set<std::array<int, 3>>{{0, 96, 0}, {48, 0, 48}}));

    // Extents 4, 2, 4 (red, green, blue): the cut goes along blue.
    const Bgr r4{0, 0, 128}, g2{0, 64, 0}, b4{128, 0, 0};
    EXPECT_EQ(TwoColours(0, {r4, g2, b4}),
              (std::set<std::array<int, 3>>{{0, 0, 128}, {64, 32, 0}}));
}

TEST(ReduceColoursTest, OneColourIsTheWeightedMeanOfThePicture) {
    // Three quarters at one colour, one quarter at another, quality 1 (levels of 16).
    DibImage picture = MakePicture(8, 4, [](int32_t x, int32_t) {
        return x < 6 ? Bgr{16, 32, 160} : Bgr{80, 240, 0};
    });
    const MemoryRun run = Reduce(picture, MemoryParams(1, 1));
    ASSERT_EQ(run.Result, qv::kReduceDone);
    // (24 x 16 + 8 x 80 + 16) / 32 = 32; (24 x 32 + 8 x 240 + 16) / 32 = 84; 24 x 160 / 32 = 120
    EXPECT_EQ(run.Entry(0), (Bgr{32, 84, 120}));
    for (int n = 1; n < 256; ++n) EXPECT_EQ(run.Entry(n), (Bgr{0, 0, 0})) << n;
    for (uint8_t index : run.Output.Pixels) EXPECT_EQ(index, 0);
}

TEST(ReduceColoursTest, ASingleColourGivesOneEntryAfterTheBlackOnes) {
    DibImage picture = MakePicture(12, 5, [](int32_t, int32_t) { return Bgr{50, 101, 203}; });
    const MemoryRun run = Reduce(picture, MemoryParams(2, 16));  // levels of 8
    ASSERT_EQ(run.Result, qv::kReduceDone);
    for (int n = 0; n < 15; ++n) EXPECT_EQ(run.Entry(n), (Bgr{0, 0, 0})) << n;
    EXPECT_EQ(run.Entry(15), (Bgr{48, 104, 200}));
    for (int n = 16; n < 256; ++n) EXPECT_EQ(run.Entry(n), (Bgr{0, 0, 0})) << n;
    const size_t stride = DibImage::RowBytes(12, 8);
    for (int32_t y = 0; y < 5; ++y)
        for (int32_t x = 0; x < 12; ++x) EXPECT_EQ(run.Output.Pixels[y * stride + x], 15);
}

TEST(ReduceColoursTest, FewerCellsThanColoursLeaveBlackEntries) {
    DibImage picture = MakePicture(6, 2, [](int32_t x, int32_t) {
        return Bgr{uint8_t(x < 3 ? 255 : 128), 255, 255};
    });
    const MemoryRun run = Reduce(picture, MemoryParams(3, 8));
    ASSERT_EQ(run.Result, qv::kReduceDone);
    std::set<std::array<int, 3>> nonBlack;
    for (int n = 0; n < 256; ++n) {
        const Bgr e = run.Entry(n);
        if (e.B || e.G || e.R) {
            EXPECT_GE(n, 6) << "black entries sort first";
            EXPECT_LT(n, 8) << "entries past the colour count stay black";
            nonBlack.insert({e.B, e.G, e.R});
        }
    }
    EXPECT_EQ(nonBlack, (std::set<std::array<int, 3>>{{255, 255, 255}, {128, 255, 255}}));
}

TEST(ReduceColoursTest, RefusesBadInputAndParameters) {
    DibImage picture = Scene(8, 8);
    EXPECT_EQ(Reduce(picture, MemoryParams(5, 8)).Result, qv::kReduceBadParameters);
    EXPECT_EQ(Reduce(picture, MemoryParams(2, 0)).Result, qv::kReduceBadParameters);
    EXPECT_EQ(Reduce(picture, MemoryParams(2, 257)).Result, qv::kReduceBadParameters);
    ReductionParams params = MemoryParams(2, 8);
    params.Mode = 3;
    EXPECT_EQ(Reduce(picture, params).Result, qv::kReduceBadParameters);
    params = MemoryParams(2, 8);
    params.InputKind = 7;
    EXPECT_EQ(Reduce(picture, params).Result, qv::kReduceBadParameters);
    params = MemoryParams(2, 8);
    params.OutputKind = qv::kReduceHooks;  // without its hooks
    EXPECT_EQ(Reduce(picture, params).Result, qv::kReduceBadParameters);

    for (int bits : {8, 32}) {
        qv::DibInfoHeader header = picture.Header();
        header.BitCount = static_cast<uint16_t>(bits);
        ReductionMemoryInput input{&header, picture.PixelBlock().data(),
                                   picture.PixelBlock().size()};
        ReductionMemoryOutput output;
        EXPECT_EQ(qv::ReduceColours(&input, &output, MemoryParams(2, 8)), qv::kReduceNot24Bit);
    }
    // Rows beyond the block the caller gave: a read failure, not a read past it.
    qv::DibInfoHeader header = picture.Header();
    ReductionMemoryInput input{&header, picture.PixelBlock().data(), 100};
    ReductionMemoryOutput output;
    EXPECT_EQ(qv::ReduceColours(&input, &output, MemoryParams(2, 8)), qv::kReduceReadFailed);
    header.Height = -8;
    input.PixelBytes = picture.PixelBlock().size();
    EXPECT_EQ(qv::ReduceColours(&input, &output, MemoryParams(2, 8)), qv::kReduceReadFailed);
}

TEST(ReduceColoursTest, FilesInFilesOut) {
    qvtest::TempDir dir;
    DibImage picture = Scene(30, 20);  // 90-byte rows, padded to 92
    ASSERT_TRUE(picture.SaveBmp(dir.File("in.bmp")));
    ReductionParams params = MemoryParams(3, 24);
    params.InputKind = qv::kReduceFile;
    params.OutputKind = qv::kReduceFile;
    const std::string in = dir.File("in.bmp"), out = dir.File("out.bmp");
    ASSERT_EQ(
        qv::ReduceColours(const_cast<char*>(in.c_str()), const_cast<char*>(out.c_str()), params),
        qv::kReduceDone);
    const std::string bytes = qvtest::ReadFile(out);
    const uint32_t imageSize = 32 * 20;
    ASSERT_EQ(bytes.size(), 1078u + imageSize);
    EXPECT_EQ(bytes.substr(0, 2), "BM");
    EXPECT_EQ(static_cast<uint8_t>(bytes[2]) | static_cast<uint8_t>(bytes[3]) << 8,
              int(1078 + imageSize));
    EXPECT_EQ(static_cast<uint8_t>(bytes[10]) | static_cast<uint8_t>(bytes[11]) << 8, 1078);

    DibImage reduced;
    ASSERT_TRUE(reduced.LoadBmp(out));
    EXPECT_EQ(reduced.BitCount(), 8);
    EXPECT_EQ(reduced.Header().SizeImage, imageSize);
    EXPECT_EQ(reduced.Header().ClrUsed, 0u);
    const MemoryRun memory = Reduce(picture, MemoryParams(3, 24));
    EXPECT_EQ(reduced.PixelBlock(), memory.Output.Pixels);
    EXPECT_TRUE(std::equal(memory.Output.HeaderAndPalette.begin(),
                           memory.Output.HeaderAndPalette.end(), reduced.HeaderBlock().begin()));

    // A 24-bit file whose pixels sit after a colour table is read from its pixel offset.
    qvimagingtest::BmpFile withTable;
    withTable.Width = 30;
    withTable.Height = 20;
    withTable.ClrUsed = 4;
    withTable.Table.assign(16, 0x55);
    withTable.Pixels = picture.PixelBlock();
    qvtest::WriteFile(in, withTable.Bytes());
    ASSERT_EQ(
        qv::ReduceColours(const_cast<char*>(in.c_str()), const_cast<char*>(out.c_str()), params),
        qv::kReduceDone);
    ASSERT_TRUE(reduced.LoadBmp(out));
    EXPECT_EQ(reduced.PixelBlock(), memory.Output.Pixels);
}

TEST(ReduceColoursTest, FileFailuresGiveTheirCodes) {
    qvtest::TempDir dir;
    ReductionParams params = MemoryParams(2, 8);
    params.InputKind = qv::kReduceFile;
    params.OutputKind = qv::kReduceFile;
    std::string in = dir.File("in.bmp"), out = dir.File("out.bmp");
    auto run = [&](const std::string& from, const std::string& to) {
        return qv::ReduceColours(const_cast<char*>(from.c_str()), const_cast<char*>(to.c_str()),
                                 params);
    };
    EXPECT_EQ(run(dir.File("missing.bmp"), out), qv::kReduceBadParameters);
    DibImage picture = Scene(16, 16);
    ASSERT_TRUE(picture.SaveBmp(in));
    EXPECT_EQ(run(in, dir.File("no/such/out.bmp")), qv::kReduceBadParameters);

    // The output is made before the parameters are looked at.
    params.Quality = 9;
    EXPECT_EQ(run(in, out), qv::kReduceBadParameters);
    EXPECT_TRUE(qvtest::FileExists(out));
    params.Quality = 2;

    std::string truncated = qvtest::ReadFile(in);
    truncated.resize(54 + 16 * 48 / 2);  // half the rows
    qvtest::WriteFile(in, truncated);
    EXPECT_EQ(run(in, out), qv::kReduceReadFailed);
    qvtest::WriteFile(in, "BM");
    EXPECT_EQ(run(in, out), qv::kReduceReadFailed);

    ASSERT_TRUE(picture.SaveBmp(in));
    EXPECT_EQ(run(in, "/dev/full"), qv::kReduceWriteFailed);
}

struct ProgressLog {
    std::vector<std::array<int32_t, 3>> Calls;
    int CancelStage = -1;
    int32_t CancelStep = -1;
};

int Record(void* context, int stage, int32_t step, int32_t total) {
    auto* log = static_cast<ProgressLog*>(context);
    log->Calls.push_back({stage, step, total});
    return !(stage == log->CancelStage && step == log->CancelStep);
}

TEST(ReduceColoursTest, ProgressIsReportedAndCancels) {
    DibImage picture = Scene(10, 6);
    ReductionParams params = MemoryParams(2, 4);
    ProgressLog log;
    params.Progress = Record;
    params.ProgressContext = &log;
    ASSERT_EQ(Reduce(picture, params).Result, qv::kReduceDone);
    std::vector<std::array<int32_t, 3>> want;
    for (int32_t y = 1; y <= 6; ++y) want.push_back({qv::kStageHistogram, y, 6});
    for (int32_t i = 0; i < 3; ++i) want.push_back({qv::kStageBoxes, i, 4});
    want.push_back({qv::kStageBoxes, 4, 4});
    for (int32_t y = 1; y <= 6; ++y) want.push_back({qv::kStageMapping, y, 6});
    EXPECT_EQ(log.Calls, want);

    // The box stage's answer is not a cancel; the histogram's and the mapping's are.
    log = ProgressLog{};
    log.CancelStage = qv::kStageBoxes;
    log.CancelStep = 1;
    EXPECT_EQ(Reduce(picture, params).Result, qv::kReduceDone);
    log = ProgressLog{};
    log.CancelStage = qv::kStageHistogram;
    log.CancelStep = 2;
    EXPECT_EQ(Reduce(picture, params).Result, qv::kReduceCancelled);
    EXPECT_EQ(log.Calls.size(), 2u);
    log = ProgressLog{};
    log.CancelStage = qv::kStageMapping;
    log.CancelStep = 3;
    const MemoryRun cancelled = Reduce(picture, params);
    EXPECT_EQ(cancelled.Result, qv::kReduceCancelled);
    EXPECT_EQ(log.Calls.back(), (std::array<int32_t, 3>{qv::kStageMapping, 3, 6}));
}

// Hooks over a picture in memory, top row first, as a caller with its own store would.
struct HookPicture {
    const DibImage* Source = nullptr;
    qv::DibInfoHeader Header{};
    std::array<uint8_t, 1024> Palette{};
    std::vector<std::vector<uint8_t>> Rows;
};

int HookReadHeader(void* input, qv::DibInfoHeader* header) {
    *header = static_cast<HookPicture*>(input)->Source->Header();
    return 1;
}
int HookReadRow(void* input, const qv::DibInfoHeader& h, int32_t y, uint8_t* row) {
    const DibImage& source = *static_cast<HookPicture*>(input)->Source;
    std::memcpy(row, source.Row(h.Height - y), static_cast<size_t>(h.Width) * 3);
    return 1;
}
int HookWriteHeader(void* output, const qv::DibInfoHeader& h, const uint8_t* palette) {
    auto* out = static_cast<HookPicture*>(output);
    out->Header = h;
    std::memcpy(out->Palette.data(), palette, 1024);
    out->Rows.assign(h.Height, {});
    return 1;
}
int HookWriteRow(void* output, const qv::DibInfoHeader& h, int32_t y, const uint8_t* row) {
    static_cast<HookPicture*>(output)->Rows[y - 1].assign(row, row + h.Width);
    return 1;
}

TEST(ReduceColoursTest, CallerHooksSeeTheSameRun) {
    DibImage picture = Scene(21, 13);
    HookPicture in, out;
    in.Source = &picture;
    ReductionParams params = MemoryParams(4, 32);
    params.InputKind = qv::kReduceHooks;
    params.OutputKind = qv::kReduceHooks;
    params.ReadHeader = HookReadHeader;
    params.ReadRow = HookReadRow;
    params.WriteHeader = HookWriteHeader;
    params.WriteRow = HookWriteRow;
    ASSERT_EQ(qv::ReduceColours(&in, &out, params), qv::kReduceDone);
    const MemoryRun memory = Reduce(picture, MemoryParams(4, 32));
    EXPECT_TRUE(std::equal(out.Palette.begin(), out.Palette.end(),
                           memory.Output.HeaderAndPalette.begin() + 40));
    const size_t stride = DibImage::RowBytes(21, 8);
    for (int32_t y = 1; y <= 13; ++y)
        EXPECT_TRUE(std::equal(out.Rows[y - 1].begin(), out.Rows[y - 1].end(),
                               memory.Output.Pixels.begin() + (13 - y) * stride));
    EXPECT_EQ(out.Header.BitCount, 8);
    EXPECT_EQ(out.Header.SizeImage, 24u * 13u);
}

TEST(ReduceColoursTest, GreyAndFixedPaletteModes) {
    DibImage picture = MakePicture(5, 2, [](int32_t x, int32_t y) {
        return Bgr{uint8_t(x * 60), uint8_t(y * 100 + 20), uint8_t(250 - x * 50)};
    });
    ReductionParams params = MemoryParams(0, 3);
    params.Mode = qv::kReduceGrey;
    const MemoryRun grey = Reduce(picture, params);
    ASSERT_EQ(grey.Result, qv::kReduceDone);
    for (int n = 0; n < 256; ++n)
        EXPECT_EQ(grey.Entry(n), (Bgr{uint8_t(n), uint8_t(n), uint8_t(n)}));
    const size_t stride = DibImage::RowBytes(5, 8);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 5; ++x) {
            const Bgr c = qvimagingtest::PixelAt(picture, x, y);
            EXPECT_EQ(grey.Output.Pixels[y * stride + x],
                      (c.R * 299 + c.G * 587 + c.B * 114) / 1000);
        }

    // Colours taken from the fixed palette map to themselves: no error to spread.
    const uint8_t* fixed = qv::FixedPalette();
    DibImage exact = MakePicture(16, 16, [&](int32_t x, int32_t y) {
        const uint8_t* e = fixed + 4 * (y * 16 + x);
        return Bgr{e[0], e[1], e[2]};
    });
    params = MemoryParams(4, 1);
    params.Mode = qv::kReduceFixedPalette;
    const MemoryRun mapped = Reduce(exact, params);
    ASSERT_EQ(mapped.Result, qv::kReduceDone);
    EXPECT_TRUE(std::equal(fixed, fixed + 1024, mapped.Output.HeaderAndPalette.begin() + 40));
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 16; ++x)
            EXPECT_EQ(mapped.Entry(mapped.Output.Pixels[y * 16 + x]),
                      qvimagingtest::PixelAt(exact, x, y));
}

}  // namespace

namespace {

TEST(ReduceColoursTest, ABigNoisyPictureMatchesThePlainEngine) {
    // More distinct cells than the nearest-colour cache starts with, so it has to grow.
    DibImage picture = Noise(640, 480, 3);
    const PlainResult want = PlainReducer(picture, 4, 8).Run();
    const MemoryRun got = Reduce(picture, MemoryParams(4, 8));
    ASSERT_EQ(got.Result, qv::kReduceDone);
    EXPECT_TRUE(std::equal(want.Palette.begin(), want.Palette.end(),
                           got.Output.HeaderAndPalette.begin() + 40));
    EXPECT_EQ(got.Output.Pixels, want.Pixels);
}

}  // namespace
