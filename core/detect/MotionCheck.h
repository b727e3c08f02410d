// The motion check: decides whether a frame holds real motion (someone moving in the room)
// rather than sensor noise, a light change, speckle or a one-frame event. It runs beside the
// motion level on every analysed frame, on a small luma picture of the frame, and keeps what
// it counted as motion for a tuning view. Plain C++, no platform code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/detect/MotionMask.h"

namespace qv::detect {

// The layouts the capture drivers deliver (24-bit is a bottom-up BGR DIB with rows padded
// to 4 bytes, 16-bit RGB is bottom-up too, packed YUV is top-down).
enum class PixelFormat { Bgr24, Yuy2, Uyvy, Rgb565, Rgb555 };

struct MotionCheckParams {
    int maxGridWidth = 160;          // the luma picture is the frame box-averaged to this width
    double noiseFactor = 4.0;        // change must exceed this many times the learned noise
    double minDifference = 6.0;      // ... and this many luma levels at least
    double noiseRiseSeconds = 0.5;   // learned noise follows a rise this fast
    double noiseFallSeconds = 3.0;   // ... and a fall this slowly
    double backgroundSeconds = 4.0;  // a still scene is taken into the background this fast
    double stuckSeconds = 60.0;      // something that stops moving joins it this slowly
    double minBlobShare = 0.008;     // smallest blob that counts, as a share of the frame area
    int minPersistMs = 700;          // motion must last this long to be confirmed
    int gapMs = 400;                 // a dropout this short does not break it
    double sceneChangeShare = 0.5;   // more of the picture than this changed: not motion
    int warmUpMs = 1500;             // after a start or a format change nothing is confirmed
    int warmUpFrames = 10;           // ... nor before this many frames taught it the noise (late
                                     // frames on a busy machine would otherwise end it early)
};

// One moving region, in cells of the luma picture (x1, y1 exclusive).
struct Blob {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    int area = 0;  // changed cells
};

struct MotionCheckResult {
    bool confirmed = false;    // motion that has lasted the minimum time
    bool moving = false;       // a blob of person size in this frame
    bool lightChange = false;  // the frame's brightness was explained by a gain and offset
    bool sceneChange = false;  // too much changed at once: the background was taken anew
    double gain = 1.0, offset = 0.0;
    double noise = 0.0;       // median learned noise, luma levels
    std::vector<Blob> blobs;  // blobs of counting size
};

class MotionCheck {
  public:
    explicit MotionCheck(MotionCheckParams params = {});

    void SetParams(const MotionCheckParams& params);
    const MotionCheckParams& Params() const { return params_; }
    // Areas to ignore; they count for nothing from the next frame on.
    void SetMask(MaskPolygons mask);
    // Forgets the learned scene (next frame starts a warm-up).
    void Reset();

    // Feeds one frame; timeMs is a monotonic millisecond clock. A frame too short for its
    // format, or of a size of 0, is ignored and leaves the result as it was.
    const MotionCheckResult& Feed(PixelFormat format, const uint8_t* data, size_t length, int width,
                                  int height, int64_t timeMs);

    const MotionCheckResult& Result() const { return result_; }
    // The luma picture's size and, per cell, 1 where the check saw change above the noise,
    // 2 where that change belongs to a counting blob, 0 elsewhere; 3 for masked cells.
    int GridWidth() const { return gw_; }
    int GridHeight() const { return gh_; }
    const std::vector<uint8_t>& Cells() const { return cells_; }
    // The last frame's luma picture (GridWidth x GridHeight, 0..255, top row first).
    const std::vector<float>& Luma() const { return luma_; }

  private:
    void Start(int width, int height, int step);
    void FitLight();
    void Classify(double dt);
    void FindBlobs();
    void Learn(double dt, bool stillFrame);

    MotionCheckParams params_;
    MaskPolygons mask_;
    bool maskDirty_ = true;
    int frameW_ = 0, frameH_ = 0, step_ = 0;
    int gw_ = 0, gh_ = 0;
    int blocksX_ = 0, blocksY_ = 0;
    std::vector<float> luma_, background_;
    std::vector<float> residual_;
    std::vector<float> blockNoise_;
    std::vector<uint8_t> blockBusy_;  // block mostly inside counting blobs last frame
    std::vector<uint8_t> masked_;
    std::vector<uint8_t> cells_;
    std::vector<uint32_t> rowSum_;
    std::vector<int> labels_;
    std::vector<int> stack_;
    std::vector<float> scratch_, scratch2_;
    int unmaskedCells_ = 0;
    int sceneChangeRun_ = 0;
    bool started_ = false;
    int64_t startMs_ = 0, lastMs_ = 0;
    int framesSinceStart_ = 0;
    int64_t streakStartMs_ = 0, lastMovingMs_ = 0;
    bool streak_ = false;
    MotionCheckResult result_;
};

// Converts a frame to its box-averaged luma picture (gw x gh cells of step x step pixels,
// top row first). Returns false when the buffer is too short for the format.
bool LumaGrid(PixelFormat format, const uint8_t* data, size_t length, int width, int height,
              int step, std::vector<float>& out, std::vector<uint32_t>& rowSum);

// Bytes of one frame of the format.
size_t FrameBytes(PixelFormat format, int width, int height);

}  // namespace qv::detect
