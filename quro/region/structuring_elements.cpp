// The usual structuring elements as chord lists: rectangle and cross with their top-left corner at
// (0, 0), and the disc centred on the origin, its half-widths taken from the midpoint circle.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "quro/quro.h"

namespace {

// Larger elements are refused: their chord lists alone would take gigabytes.
constexpr std::int64_t kMaxElementSize = std::int64_t{1} << 24;

// Half-width of every row 0 .. r of the disc of radius r: the midpoint circle's points of the
// first octant, then the same points but the last mirrored about the diagonal, each (x, y) setting
// half_width[y] = x, later points overwriting earlier ones.
std::vector<int> disc_half_widths(int r) {
    std::vector<std::pair<int, int>> points{{0, r}};
    std::int64_t d = 3 - 2 * std::int64_t{r};
    int x = 0, y = r;
    while (x < y) {
        if (d >= 0) {
            --y;
            d += 4 * (std::int64_t{x} - y) + 10;
        } else {
            d += 4 * std::int64_t{x} + 6;
        }
        ++x;
        points.emplace_back(x, y);
    }
    for (std::size_t i = points.size() - 1; i-- > 0;)
        points.emplace_back(points[i].second, points[i].first);
    std::vector<int> half_width(static_cast<std::size_t>(r) + 1, 0);
    for (const auto& [px, py] : points)
        if (py >= 0 && py <= r) half_width[static_cast<std::size_t>(py)] = px;
    return half_width;
}

}  // namespace

extern "C" void gen_se_circle(int r, std::vector<quro::chord>* se) {
    if (se == nullptr) return;
    try {
        se->clear();
        r = std::max(r, 1);
        if (r > kMaxElementSize) return;
        const std::vector<int> half_width = disc_half_widths(r);
        se->reserve(2 * static_cast<std::size_t>(r) + 1);
        for (int y = -r; y <= r; ++y) {
            const int w = half_width[static_cast<std::size_t>(y < 0 ? -y : y)];
            se->emplace_back(-w, w, y);
        }
    } catch (...) {
        se->clear();
    }
}

extern "C" int gen_se_rect(int width, int height, std::vector<quro::chord>* se) {
    if (se == nullptr) return 0;
    const int h = std::max(height, 2);
    const int last_col = width < 2 ? 1 : width - 1;
    if (h > kMaxElementSize) return -1;
    try {
        se->resize(static_cast<std::size_t>(h));
        for (int row = 0; row < h; ++row)
            (*se)[static_cast<std::size_t>(row)] = quro::chord(0, last_col, row);
    } catch (...) {
        return -1;
    }
    return h;
}

extern "C" void gen_se_cross(int width, int height, std::vector<quro::chord>* se) {
    if (se == nullptr) return;
    try {
        se->clear();
        const int h = std::max(height, 2);
        const int w = std::max(width, 2);
        if (h > kMaxElementSize) return;
        se->reserve(static_cast<std::size_t>(h));
        for (int row = 0; row < h; ++row) {
            if (row == h / 2)
                se->emplace_back(0, w - 1, row);
            else
                se->emplace_back(w / 2, w / 2, row);
        }
    } catch (...) {
        se->clear();
    }
}
