// Ties among equally distant neighbours go to the lower index. The macro changes the result-set
// code of the KD-tree header, so it must be defined before that header is included; this is the
// only file of the library that includes it.
#define NANOFLANN_FIRST_MATCH 1

#include "quro/match/refine/feature_cells.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <nanoflann.hpp>
#include <opencv2/core.hpp>

#include "quro/model_pose.h"
#include "quro/model_transforms.h"

namespace quro {
namespace {

// Largest grid size whose cell count P * P still fits an int.
constexpr int kMaxGridSize = 46340;

// Grid column (or row) of coordinate v: (int)((o + v) / t), kept in 0..P-1.
int cell_coordinate(float v, float o, float t, int P) {
    const float q = (o + v) / t;
    if (!(q >= 0.f)) return 0;  // negative or not a number
    if (q >= static_cast<float>(P)) return P - 1;
    return static_cast<int>(q);
}

const std::vector<Feature>& level_points(const ShapeModelRecord& rec, int level) {
    return rec.level(level).features;
}

// The sampled points as the KD tree reads them.
struct SampledCloud {
    std::vector<float> xy;  // x0, y0, x1, y1, ...

    std::size_t kdtree_get_point_count() const { return xy.size() / 2; }
    float kdtree_get_pt(std::size_t idx, std::size_t dim) const { return xy[2 * idx + dim]; }
    template <class BBox>
    bool kdtree_get_bbox(BBox&) const {
        return false;
    }
};

using CloudTree = nanoflann::KDTreeSingleIndexAdaptor<
    nanoflann::L2_Simple_Adaptor<float, SampledCloud>, SampledCloud, 2, std::uint32_t>;

}  // namespace

float feature_half_extent(const ShapeModelRecord& rec, int level) {
    const std::vector<Feature>& pts = level_points(rec, level);
    if (pts.empty()) return 1.f;
    float min_x = pts[0].x, max_x = pts[0].x, min_y = pts[0].y, max_y = pts[0].y;
    for (const Feature& f : pts) {
        min_x = std::min(min_x, f.x);
        max_x = std::max(max_x, f.x);
        min_y = std::min(min_y, f.y);
        max_y = std::max(max_y, f.y);
    }
    return std::max(std::max(std::fabs(max_x), std::fabs(min_x)),
                    std::max(std::fabs(max_y), std::fabs(min_y))) +
           1.f;
}

void feature_cell_index(const ShapeModelRecord& rec, int level, int P, std::vector<int>& out) {
    CV_Assert(P >= 1 && P <= kMaxGridSize);
    const std::vector<Feature>& pts = level_points(rec, level);
    const float o = feature_half_extent(rec, level);
    const float t = 2.f * o / static_cast<float>(P);
    const int step = template_point_step(rec, level, 0);
    const std::size_t count = sampled_count(pts.size(), step);
    out.resize(count + 1);
    for (std::size_t i = 0; i < count; ++i) {
        const Feature& f = pts[i * static_cast<std::size_t>(step)];
        out[i] = P * cell_coordinate(f.y, o, t, P) + cell_coordinate(f.x, o, t, P);
    }
    out[count] = P * P;
}

void feature_neighbours(const ShapeModelRecord& rec, FeatureGrid& grid, int level, int P, int k,
                        std::vector<int>& out, int step) {
    CV_Assert(P >= 1);
    const std::vector<Feature>& pts = level_points(rec, level);
    const int stride = template_point_step(rec, level, step);
    const std::size_t count = sampled_count(pts.size(), stride);
    const float o = feature_half_extent(rec, level);
    grid = FeatureGrid{stride, P, static_cast<int>(count), 1, o, 2.f * o / static_cast<float>(P)};

    if (k < 1 || count == 0) {
        out.clear();
        return;
    }
    const auto kk = static_cast<std::size_t>(k);
    out.assign(kk * count, 0);

    SampledCloud cloud;
    cloud.xy.resize(2 * count);
    for (std::size_t i = 0; i < count; ++i) {
        const Feature& f = pts[i * static_cast<std::size_t>(stride)];
        cloud.xy[2 * i] = f.x;
        cloud.xy[2 * i + 1] = f.y;
    }
    const CloudTree tree(2, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(10));  // builds it

    // One neighbour more than asked shows whether the k-th distance is shared by a point left
    // out; only then a radius search gathers all the tied points, so that ties always go to the
    // lower index.
    const std::size_t ask = std::min(kk + 1, count);
    std::vector<std::uint32_t> found(ask);
    std::vector<float> dist(ask);
    std::vector<std::pair<std::uint32_t, float>> within;
    for (std::size_t i = 0; i < count; ++i) {
        const float* query = &cloud.xy[2 * i];
        const std::size_t got = tree.knnSearch(query, ask, found.data(), dist.data());
        const std::size_t keep = std::min(got, kk);
        if (got > kk && dist[kk] == dist[kk - 1]) {
            const float radius = std::nextafter(dist[kk - 1], INFINITY);
            tree.radiusSearch(query, radius, within, nanoflann::SearchParams(32, 0.f, false));
            std::sort(within.begin(), within.end(), [](const auto& a, const auto& b) {
                return a.second < b.second || (a.second == b.second && a.first < b.first);
            });
            for (std::size_t j = 0; j < keep && j < within.size(); ++j) found[j] = within[j].first;
        }
        // Duplicates of point i at distance 0 with a lower index come before it: move i to the
        // front (in place of the farthest when all places went to such duplicates).
        const auto self = static_cast<std::uint32_t>(i);
        const auto first = found.begin();
        const auto end = first + static_cast<std::ptrdiff_t>(keep);
        auto it = std::find(first, end, self);
        if (it == end) {
            it = end - 1;
            *it = self;
        }
        std::rotate(first, it, it + 1);
        int* dst = out.data() + kk * i;
        for (std::size_t j = 0; j < keep; ++j) dst[j] = static_cast<int>(found[j]);
    }
}

}  // namespace quro
