// The motion check. Per frame:
//  1. the frame becomes a small luma picture (box average, which also calms the noise);
//  2. the background is carried through the frame's light change: a gain, offset, gentle
//     curve and brightness slope fitted robustly to block medians (a person covers a
//     minority of blocks and falls out as an outlier), so lamps, clouds, exposure and
//     white-balance steps are followed at once instead of counted;
//  3. cells differing from that background by more than k times the learned noise of their
//     block (median absolute difference, adapting in seconds) are changed;
//  4. changed cells are cleaned of speckle and grouped; only groups of person size count;
//  5. counting motion must persist for a minimum time before it is confirmed.
#include "core/detect/MotionCheck.h"

#include <algorithm>
#include <cmath>

namespace qv::detect {

namespace {

constexpr int kBlocksX = 16, kBlocksY = 12;
constexpr int kFitTerms = 5;  // offset, gain, curve, slope in x, slope in y

int Stride(PixelFormat f, int width) {
    switch (f) {
        case PixelFormat::Bgr24:
            return (width * 3 + 3) & ~3;
        case PixelFormat::Rgb565:
        case PixelFormat::Rgb555:
            return (width * 2 + 3) & ~3;
        case PixelFormat::Yuy2:
        case PixelFormat::Uyvy:
            return (width + 1) / 2 * 4;
    }
    return 0;
}

double Rate(double dt, double seconds) {
    return seconds <= 0 ? 1.0 : 1.0 - std::exp(-dt / seconds);
}

float Median(std::vector<float>& v) {
    auto mid = v.begin() + v.size() / 2;
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

// Solves a small symmetric system in place (Gaussian elimination with pivoting).
bool Solve(double a[kFitTerms][kFitTerms], double b[kFitTerms], double x[kFitTerms]) {
    for (int c = 0; c < kFitTerms; ++c) {
        int p = c;
        for (int r = c + 1; r < kFitTerms; ++r)
            if (std::fabs(a[r][c]) > std::fabs(a[p][c])) p = r;
        if (std::fabs(a[p][c]) < 1e-12) return false;
        std::swap(a[p], a[c]);
        std::swap(b[p], b[c]);
        for (int r = c + 1; r < kFitTerms; ++r) {
            const double f = a[r][c] / a[c][c];
            for (int k = c; k < kFitTerms; ++k) a[r][k] -= f * a[c][k];
            b[r] -= f * b[c];
        }
    }
    for (int c = kFitTerms - 1; c >= 0; --c) {
        double s = b[c];
        for (int k = c + 1; k < kFitTerms; ++k) s -= a[c][k] * x[k];
        x[c] = s / a[c][c];
    }
    return true;
}

}  // namespace

size_t FrameBytes(PixelFormat format, int width, int height) {
    if (width <= 0 || height <= 0) return 0;
    return size_t(Stride(format, width)) * size_t(height);
}

bool LumaGrid(PixelFormat format, const uint8_t* data, size_t length, int width, int height,
              int step, std::vector<float>& out, std::vector<uint32_t>& rowSum) {
    if (!data || step < 1 || width < step || height < step) return false;
    if (length < FrameBytes(format, width, height)) return false;
    const int gw = width / step, gh = height / step;
    const size_t stride = size_t(Stride(format, width));
    const bool bottomUp = format == PixelFormat::Bgr24 || format == PixelFormat::Rgb565 ||
                          format == PixelFormat::Rgb555;
    out.resize(size_t(gw) * gh);
    rowSum.assign(size_t(gw), 0);
    const float scale = 1.0f / (float(step) * float(step) * 256.0f);
    for (int gy = 0; gy < gh; ++gy) {
        std::fill(rowSum.begin(), rowSum.end(), 0u);
        for (int sy = 0; sy < step; ++sy) {
            const int y = gy * step + sy;
            const uint8_t* row = data + stride * size_t(bottomUp ? height - 1 - y : y);
            uint32_t* acc = rowSum.data();
            switch (format) {
                case PixelFormat::Bgr24:
                    for (int gx = 0; gx < gw; ++gx) {
                        const uint8_t* p = row + size_t(gx) * step * 3;
                        uint32_t s = 0;
                        for (int k = 0; k < step; ++k, p += 3)
                            s += 29u * p[0] + 150u * p[1] + 77u * p[2];
                        acc[gx] += s;
                    }
                    break;
                case PixelFormat::Yuy2:
                case PixelFormat::Uyvy: {
                    const uint8_t* ys = row + (format == PixelFormat::Uyvy ? 1 : 0);
                    for (int gx = 0; gx < gw; ++gx) {
                        const uint8_t* p = ys + size_t(gx) * step * 2;
                        uint32_t s = 0;
                        for (int k = 0; k < step; ++k) s += p[2 * k];
                        acc[gx] += s << 8;
                    }
                    break;
                }
                case PixelFormat::Rgb565:
                case PixelFormat::Rgb555: {
                    const bool g6 = format == PixelFormat::Rgb565;
                    for (int gx = 0; gx < gw; ++gx) {
                        const uint8_t* p = row + size_t(gx) * step * 2;
                        uint32_t s = 0;
                        for (int k = 0; k < step; ++k, p += 2) {
                            const unsigned v = p[0] | (p[1] << 8);
                            const unsigned r = g6 ? v >> 11 : (v >> 10) & 31;
                            const unsigned g = g6 ? ((v >> 5) & 63) << 2 : ((v >> 5) & 31) << 3;
                            const unsigned b = v & 31;
                            s += 77u * (r << 3) + 150u * g + 29u * (b << 3);
                        }
                        acc[gx] += s;
                    }
                    break;
                }
            }
        }
        float* o = out.data() + size_t(gy) * gw;
        for (int gx = 0; gx < gw; ++gx) o[gx] = float(rowSum[size_t(gx)]) * scale;
    }
    return true;
}

MotionCheck::MotionCheck(MotionCheckParams params) : params_(params) {}

void MotionCheck::SetParams(const MotionCheckParams& params) {
    if (params.maxGridWidth != params_.maxGridWidth) started_ = false;
    params_ = params;
}

void MotionCheck::SetMask(MaskPolygons mask) {
    mask_ = std::move(mask);
    maskDirty_ = true;
}

void MotionCheck::Reset() {
    started_ = false;
    result_ = MotionCheckResult{};
}

void MotionCheck::Start(int width, int height, int step) {
    frameW_ = width;
    frameH_ = height;
    step_ = step;
    gw_ = width / step;
    gh_ = height / step;
    blocksX_ = std::min(kBlocksX, gw_);
    blocksY_ = std::min(kBlocksY, gh_);
    const size_t n = size_t(gw_) * gh_;
    background_.assign(n, 0.f);
    residual_.assign(n, 0.f);
    cells_.assign(n, 0);
    labels_.assign(n, 0);
    blockNoise_.assign(size_t(blocksX_) * blocksY_, 0.f);
    blockBusy_.assign(size_t(blocksX_) * blocksY_, 0);
    maskDirty_ = true;
}

const MotionCheckResult& MotionCheck::Feed(PixelFormat format, const uint8_t* data, size_t length,
                                           int width, int height, int64_t timeMs) {
    if (width <= 0 || height <= 0) return result_;
    const int maxW = std::max(1, params_.maxGridWidth);
    const int step = std::max(1, (width + maxW - 1) / maxW);
    if (length < FrameBytes(format, width, height) || width < step || height < step) return result_;
    const bool fresh = !started_ || width != frameW_ || height != frameH_ || step != step_;
    if (fresh) Start(width, height, step);
    if (!LumaGrid(format, data, length, width, height, step, luma_, rowSum_)) return result_;
    if (maskDirty_) {
        masked_ = MaskBitmap(mask_, gw_, gh_);
        unmaskedCells_ = int(std::count(masked_.begin(), masked_.end(), 0));
        maskDirty_ = false;
    }
    if (fresh) {
        background_ = luma_;
        std::fill(blockNoise_.begin(), blockNoise_.end(),
                  float(params_.minDifference / std::max(1.0, params_.noiseFactor)));
        std::fill(blockBusy_.begin(), blockBusy_.end(), 0);
        started_ = true;
        startMs_ = lastMs_ = timeMs;
        framesSinceStart_ = 0;
        streak_ = false;
        result_ = MotionCheckResult{};
        for (size_t i = 0; i < cells_.size(); ++i) cells_[i] = masked_[i] ? 3 : 0;
        return result_;
    }
    const double dt = std::clamp((timeMs - lastMs_) / 1000.0, 0.001, 1.0);
    lastMs_ = timeMs;
    if (framesSinceStart_ < params_.warmUpFrames) ++framesSinceStart_;
    const bool warm =
        timeMs - startMs_ >= params_.warmUpMs && framesSinceStart_ >= params_.warmUpFrames;

    FitLight();
    Classify(dt);
    if (!result_.sceneChange) FindBlobs();
    result_.moving = warm && !result_.blobs.empty();
    Learn(dt, warm);

    if (result_.moving) {
        if (!streak_ || timeMs - lastMovingMs_ > params_.gapMs) {
            streak_ = true;
            streakStartMs_ = timeMs;
        }
        lastMovingMs_ = timeMs;
    } else if (streak_ && (result_.sceneChange || timeMs - lastMovingMs_ > params_.gapMs)) {
        streak_ = false;
    }
    result_.confirmed = streak_ && timeMs - lastMovingMs_ <= params_.gapMs &&
                        lastMovingMs_ - streakStartMs_ >= params_.minPersistMs;
    return result_;
}

// Fits luma ~ background + a0 + a1 u + a2 (u^2 - mean) + a3 x + a4 y over block medians
// (u = background - its mean), drops outlying blocks and fits again, then carries the
// background through the fitted change.
void MotionCheck::FitLight() {
    struct Point {
        double u = 0, q = 0, x = 0, y = 0, d = 0;
        bool in = true;
    };
    Point pts[kBlocksX * kBlocksY];
    int n = 0;
    double meanBg = 0;
    for (int by = 0; by < blocksY_; ++by) {
        const int y0 = by * gh_ / blocksY_, y1 = (by + 1) * gh_ / blocksY_;
        for (int bx = 0; bx < blocksX_; ++bx) {
            const int x0 = bx * gw_ / blocksX_, x1 = (bx + 1) * gw_ / blocksX_;
            scratch_.clear();
            scratch2_.clear();
            // Every other cell in each direction gives the medians well enough.
            for (int y = y0; y < y1; y += 2) {
                for (int x = x0; x < x1; x += 2) {
                    const size_t i = size_t(y) * gw_ + x;
                    if (masked_[i]) continue;
                    scratch_.push_back(background_[i]);
                    scratch2_.push_back(luma_[i]);
                }
            }
            const size_t sampled = size_t((x1 - x0 + 1) / 2) * size_t((y1 - y0 + 1) / 2);
            if (scratch_.size() < 4 || scratch_.size() * 2 < sampled) continue;
            const double mb = Median(scratch_), ml = Median(scratch2_);
            // Clipped blocks follow no gain.
            if (mb < 4 || mb > 251 || ml < 4 || ml > 251) continue;
            Point& p = pts[n++];
            p.u = mb;
            p.d = ml - mb;
            p.x = (x0 + x1) * 0.5 / gw_ - 0.5;
            p.y = (y0 + y1) * 0.5 / gh_ - 0.5;
            meanBg += mb;
        }
    }
    double coef[kFitTerms] = {0, 0, 0, 0, 0};
    double meanQ = 0;
    if (n >= 6) {
        meanBg /= n;
        for (int i = 0; i < n; ++i) {
            pts[i].u -= meanBg;
            pts[i].q = pts[i].u * pts[i].u / 128.0;
            meanQ += pts[i].q;
        }
        meanQ /= n;
        for (int i = 0; i < n; ++i) pts[i].q -= meanQ;
        std::vector<float>& res = scratch_;
        for (int round = 0; round < 3; ++round) {
            double a[kFitTerms][kFitTerms] = {}, b[kFitTerms] = {};
            int used = 0;
            for (int i = 0; i < n; ++i) {
                if (!pts[i].in) continue;
                const double r[kFitTerms] = {1, pts[i].u, pts[i].q, pts[i].x, pts[i].y};
                for (int j = 0; j < kFitTerms; ++j) {
                    for (int k = 0; k < kFitTerms; ++k) a[j][k] += r[j] * r[k];
                    b[j] += r[j] * pts[i].d;
                }
                ++used;
            }
            if (used < 6) break;
            // Light ridges keep the fit sane on flat scenes (gain and offset cannot be told
            // apart there, and either explains the change).
            a[1][1] += used * 25.0;
            a[2][2] += used * 4.0;
            a[3][3] += used * 0.01;
            a[4][4] += used * 0.01;
            double x[kFitTerms];
            if (!Solve(a, b, x)) break;
            std::copy(x, x + kFitTerms, coef);
            res.clear();
            double e[kBlocksX * kBlocksY];
            for (int i = 0; i < n; ++i) {
                e[i] = pts[i].d - (coef[0] + coef[1] * pts[i].u + coef[2] * pts[i].q +
                                   coef[3] * pts[i].x + coef[4] * pts[i].y);
                res.push_back(float(std::fabs(e[i])));
            }
            const double spread = 1.4826 * Median(res);
            const double limit = std::max(3.0 * spread, 1.5);
            for (int i = 0; i < n; ++i) pts[i].in = std::fabs(e[i]) <= limit;
        }
    }
    result_.gain = 1.0 + coef[1];
    result_.offset = coef[0] - coef[1] * meanBg;
    result_.lightChange = std::fabs(coef[1]) > 0.03 || std::fabs(coef[0]) > 3.0 ||
                          std::fabs(coef[3]) + std::fabs(coef[4]) > 4.0;
    if (coef[0] == 0 && coef[1] == 0 && coef[2] == 0 && coef[3] == 0 && coef[4] == 0) return;
    for (int y = 0; y < gh_; ++y) {
        const double yc = (y + 0.5) / gh_ - 0.5;
        const double rowTerm = coef[0] - coef[2] * meanQ + coef[4] * yc;
        float* bg = background_.data() + size_t(y) * gw_;
        for (int x = 0; x < gw_; ++x) {
            const double u = bg[x] - meanBg;
            const double v = bg[x] + rowTerm + coef[1] * u + coef[2] * u * u / 128.0 +
                             coef[3] * ((x + 0.5) / gw_ - 0.5);
            bg[x] = float(std::clamp(v, 0.0, 255.0));
        }
    }
}

void MotionCheck::Classify(double) {
    const float k = float(params_.noiseFactor), floor = float(params_.minDifference);
    int changed = 0;
    for (int y = 0; y < gh_; ++y) {
        const int by = std::min(blocksY_ - 1, y * blocksY_ / gh_);
        for (int x = 0; x < gw_; ++x) {
            const size_t i = size_t(y) * gw_ + x;
            const float r = luma_[i] - background_[i];
            residual_[i] = r;
            if (masked_[i]) {
                cells_[i] = 3;
                continue;
            }
            const int bx = std::min(blocksX_ - 1, x * blocksX_ / gw_);
            const float limit = std::max(floor, k * blockNoise_[size_t(by) * blocksX_ + bx]);
            const bool c = std::fabs(r) > limit;
            cells_[i] = c ? 1 : 0;
            changed += c;
        }
    }
    result_.sceneChange = unmaskedCells_ > 0 && changed > params_.sceneChangeShare * unmaskedCells_;
    result_.blobs.clear();
}

// Speckle filter (a cell stays changed with at least 4 changed cells in its 3x3
// neighbourhood, itself included, which also closes small gaps), then 8-connected groups.
void MotionCheck::FindBlobs() {
    const size_t n = cells_.size();
    std::vector<int>& keep = labels_;
    for (int y = 0; y < gh_; ++y) {
        for (int x = 0; x < gw_; ++x) {
            int count = 0;
            for (int dy = -1; dy <= 1; ++dy) {
                const int yy = y + dy;
                if (yy < 0 || yy >= gh_) continue;
                for (int dx = -1; dx <= 1; ++dx) {
                    const int xx = x + dx;
                    if (xx >= 0 && xx < gw_ && cells_[size_t(yy) * gw_ + xx] == 1) ++count;
                }
            }
            const size_t i = size_t(y) * gw_ + x;
            keep[i] = count >= 4 && !masked_[i] ? -1 : 0;  // -1: kept, not yet labelled
        }
    }
    const int minArea =
        std::max(2, int(std::ceil(params_.minBlobShare * double(gw_) * double(gh_))));
    int label = 0;
    for (size_t start = 0; start < n; ++start) {
        if (keep[start] != -1) continue;
        ++label;
        Blob b{gw_, gh_, 0, 0, 0};
        stack_.clear();
        stack_.push_back(int(start));
        keep[start] = label;
        while (!stack_.empty()) {
            const int i = stack_.back();
            stack_.pop_back();
            const int x = i % gw_, y = i / gw_;
            b.x0 = std::min(b.x0, x), b.y0 = std::min(b.y0, y);
            b.x1 = std::max(b.x1, x + 1), b.y1 = std::max(b.y1, y + 1);
            ++b.area;
            for (int dy = -1; dy <= 1; ++dy) {
                const int yy = y + dy;
                if (yy < 0 || yy >= gh_) continue;
                for (int dx = -1; dx <= 1; ++dx) {
                    const int xx = x + dx;
                    if (xx < 0 || xx >= gw_) continue;
                    const size_t j = size_t(yy) * gw_ + xx;
                    if (keep[j] == -1) {
                        keep[j] = label;
                        stack_.push_back(int(j));
                    }
                }
            }
        }
        if (b.area < minArea) continue;
        result_.blobs.push_back(b);
        // Mark the group's cells for the view and for learning.
        for (int y = b.y0; y < b.y1; ++y)
            for (int x = b.x0; x < b.x1; ++x) {
                const size_t j = size_t(y) * gw_ + x;
                if (keep[j] == label) cells_[j] = 2;
            }
    }
}

void MotionCheck::Learn(double dt, bool warm) {
    // Too much changed to tell anything apart: start again from this picture. When that
    // goes on against the fresh background, the change is noise of a new level (a camera
    // switching its gain): learn it. A single change (a lamp the fit could not follow) is
    // not let into the noise.
    sceneChangeRun_ = result_.sceneChange ? sceneChangeRun_ + 1 : 0;
    const bool learnNoise = !result_.sceneChange || sceneChangeRun_ > 1 || !warm;
    if (result_.sceneChange) std::fill(blockBusy_.begin(), blockBusy_.end(), 0);
    const double quick = 0.2;
    const float rise = learnNoise ? float(Rate(dt, warm ? params_.noiseRiseSeconds : quick)) : 0.f;
    const float fall = float(Rate(dt, warm ? params_.noiseFallSeconds : quick));
    double noiseSum = 0;
    for (int by = 0; by < blocksY_; ++by) {
        const int y0 = by * gh_ / blocksY_, y1 = (by + 1) * gh_ / blocksY_;
        for (int bx = 0; bx < blocksX_; ++bx) {
            const int x0 = bx * gw_ / blocksX_, x1 = (bx + 1) * gw_ / blocksX_;
            const size_t b = size_t(by) * blocksX_ + bx;
            scratch_.clear();
            int busy = 0, open = 0;
            for (int y = y0; y < y1; ++y)
                for (int x = x0; x < x1; ++x) {
                    const size_t i = size_t(y) * gw_ + x;
                    if (cells_[i] == 3) continue;
                    ++open;
                    if (cells_[i] == 2)
                        ++busy;
                    else
                        scratch_.push_back(std::fabs(residual_[i]));
                }
            const bool wasBusy = blockBusy_[b];
            blockBusy_[b] = busy * 10 > open * 3;
            if (!wasBusy && !blockBusy_[b] && !scratch_.empty() &&
                scratch_.size() * 2 >= size_t(open)) {
                const float m = Median(scratch_);
                float& noise = blockNoise_[b];
                noise += (m > noise ? rise : fall) * (m - noise);
            }
            noiseSum += blockNoise_[b];
        }
    }
    result_.noise = noiseSum / std::max(1, blocksX_ * blocksY_);
    if (result_.sceneChange) {
        background_ = luma_;
        return;
    }
    const float still = float(Rate(dt, warm ? params_.backgroundSeconds : 0.3));
    const float stuck = float(Rate(dt, params_.stuckSeconds));
    for (size_t i = 0; i < background_.size(); ++i) {
        if (cells_[i] == 3) continue;
        background_[i] += (cells_[i] == 2 ? stuck : still) * (luma_[i] - background_[i]);
    }
}

}  // namespace qv::detect
