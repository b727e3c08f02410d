// Mask polygons: settings text and rasterisation.
#include "core/detect/MotionMask.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace qv::detect {

namespace {

bool Fail(std::string* error, std::string why) {
    if (error) *error = std::move(why);
    return false;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// A number from 0 to 1 in plain decimal notation.
bool ParseCoordinate(std::string_view s, float& out) {
    if (s.empty() || s.size() > 12) return false;
    for (char c : s)
        if (!(c == '.' || (c >= '0' && c <= '9'))) return false;
    double v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
    if (!(v >= 0.0 && v <= 1.0)) return false;
    out = static_cast<float>(v);
    return true;
}

bool ParsePolygon(std::string_view text, MaskPolygon& poly, std::string* error) {
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsBlank(text[i])) ++i;
        if (i == text.size()) break;
        size_t end = i;
        while (end < text.size() && !IsBlank(text[end])) ++end;
        const std::string_view point = text.substr(i, end - i);
        const size_t comma = point.find(',');
        MaskPoint p;
        if (comma == std::string_view::npos || !ParseCoordinate(point.substr(0, comma), p.x) ||
            !ParseCoordinate(point.substr(comma + 1), p.y))
            return Fail(error, "a point is not \"x,y\" with x and y from 0 to 1: " +
                                   std::string(point.substr(0, 32)));
        if (poly.size() == kMaxMaskPoints) return Fail(error, "a polygon has too many points");
        poly.push_back(p);
        i = end;
    }
    if (poly.size() < 3) return Fail(error, "a polygon needs at least three points");
    return true;
}

}  // namespace

bool ParseMask(std::string_view text, MaskPolygons& out, std::string* error) {
    out.clear();
    MaskPolygons polys;
    size_t start = 0;
    bool blank = true;
    for (char c : text)
        if (!IsBlank(c)) blank = false;
    if (blank) return true;
    for (;;) {
        // '|' is what the settings file holds (it takes ';' for a comment); ';' is read too.
        const size_t semi = text.find_first_of("|;", start);
        const std::string_view part = text.substr(
            start, semi == std::string_view::npos ? std::string_view::npos : semi - start);
        if (polys.size() == kMaxMaskPolygons) return Fail(error, "too many polygons");
        MaskPolygon poly;
        if (!ParsePolygon(part, poly, error)) return false;
        polys.push_back(std::move(poly));
        if (semi == std::string_view::npos) break;
        start = semi + 1;
    }
    out = std::move(polys);
    return true;
}

std::string FormatMask(const MaskPolygons& mask) {
    std::string s;
    char buf[32];
    for (size_t p = 0; p < mask.size(); ++p) {
        if (p) s += '|';
        for (size_t i = 0; i < mask[p].size(); ++i) {
            if (i) s += ' ';
            // Four digits without trailing zeros: the settings file keeps 255 bytes of a value.
            for (int axis = 0; axis < 2; ++axis) {
                if (axis) s += ',';
                std::snprintf(buf, sizeof buf, "%.4f",
                              std::clamp<double>(axis ? mask[p][i].y : mask[p][i].x, 0, 1));
                std::string number = buf;
                number.erase(number.find_last_not_of('0') + 1);
                if (number.back() == '.') number.pop_back();
                s += number;
            }
        }
    }
    return s;
}

std::vector<MaskSpan> MaskSpans(const MaskPolygons& mask, int width, int height) {
    std::vector<MaskSpan> spans;
    if (width <= 0 || height <= 0 || mask.empty()) return spans;
    std::vector<std::pair<int, int>> runs;  // of one row, all polygons
    std::vector<double> xs;
    for (int y = 0; y < height; ++y) {
        const double yc = (y + 0.5) / height;
        runs.clear();
        for (const MaskPolygon& poly : mask) {
            xs.clear();
            const size_t n = poly.size();
            for (size_t i = 0; i < n; ++i) {
                const MaskPoint& a = poly[i];
                const MaskPoint& b = poly[(i + 1) % n];
                // Half-open in y, so a vertex on the line is counted once.
                if ((a.y <= yc) == (b.y <= yc)) continue;
                xs.push_back(a.x + (yc - a.y) * (b.x - a.x) / (double(b.y) - a.y));
            }
            std::sort(xs.begin(), xs.end());
            for (size_t i = 0; i + 1 < xs.size(); i += 2) {
                // Pixels whose centre (x + 0.5) / width lies in [xs[i], xs[i+1]).
                const int x0 = std::max(0, int(std::ceil(xs[i] * width - 0.5)));
                const int x1 = std::min(width, int(std::ceil(xs[i + 1] * width - 0.5)));
                if (x1 > x0) runs.emplace_back(x0, x1);
            }
        }
        std::sort(runs.begin(), runs.end());
        for (size_t i = 0; i < runs.size();) {
            int x0 = runs[i].first, x1 = runs[i].second;
            size_t j = i + 1;
            for (; j < runs.size() && runs[j].first <= x1; ++j) x1 = std::max(x1, runs[j].second);
            spans.push_back({y, x0, x1});
            i = j;
        }
    }
    return spans;
}

std::vector<uint8_t> MaskBitmap(const MaskPolygons& mask, int width, int height) {
    std::vector<uint8_t> bits(width > 0 && height > 0 ? size_t(width) * height : 0, 0);
    for (const MaskSpan& s : MaskSpans(mask, width, height))
        std::fill(bits.begin() + size_t(s.y) * width + s.x0,
                  bits.begin() + size_t(s.y) * width + s.x1, 1);
    return bits;
}

}  // namespace qv::detect
