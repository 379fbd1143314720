#include "quro/match/subpixel/segment_walk.h"

#include <algorithm>
#include <cmath>

namespace quro {

void rasterize_segment(int count, std::vector<cv::Point>& pts, float fx, float fy, float dx,
                       float dy) {
    pts.clear();
    if (count < 0) return;
    const int sx = (dx > 0.f) - (dx < 0.f);
    const int sy = (dy > 0.f) - (dy < 0.f);
    const bool major_x = std::abs(dx) >= std::abs(dy);
    const float k = major_x ? std::abs(dy) / std::abs(dx) : std::abs(dx) / std::abs(dy);
    const float u = major_x ? static_cast<float>(sx) * fx : static_cast<float>(sy) * fy;
    const float w = major_x ? static_cast<float>(sy) * fy : static_cast<float>(sx) * fx;
    float err = (0.5f - u) * k - (0.5f - w);

    // A walk emits at most count + 1 cells; bounded so that a huge count cannot over-reserve.
    pts.reserve(static_cast<std::size_t>(std::min(count, 1 << 16)) + 1);
    int x = 0, y = 0;
    int& major = major_x ? x : y;
    int& minor = major_x ? y : x;
    const int major_step = major_x ? sx : sy;
    const int minor_step = major_x ? sy : sx;
    const auto emitted = [&pts] { return static_cast<long long>(pts.size()); };
    for (int major_steps = 0; major_steps <= count; ++major_steps) {
        pts.emplace_back(x, y);
        if (emitted() >= count) return;
        while (err >= -1e-8f) {
            minor += minor_step;
            err -= 1.f;
            if (err > -1.f) {
                pts.emplace_back(x, y);
                // Only a start offset outside the pixel can make one major step cross several
                // minor ones; stop there rather than run on.
                if (emitted() > count) return;
            }
        }
        if (emitted() >= count) return;
        major += major_step;
        err += k;
    }
}

}  // namespace quro
