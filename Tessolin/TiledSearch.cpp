// Tile grid, tile searches and duplicate removal of the workbench's large-image search.
#include "TiledSearch.h"

#include <algorithm>
#include <cmath>
#include <exception>

namespace tessolin {
namespace {

constexpr float kTileSide = 640.f;
constexpr float kMinDuplicateDistance = 0.5f;

TileAxis SplitAxis(int side, int model_side) {
    TileAxis axis;
    if (side < 1) return axis;
    const int n = std::max(1, int(std::roundf(float(side) / kTileSide)));
    int end = 0;
    for (int k = 0; k < n; ++k) {
        const int start = end - model_side;  // the first tile's: below 0
        axis.starts.push_back(start < 1 ? 0 : start);
        end += side / n + (k < side % n ? 1 : 0);
        axis.ends.push_back(end);
    }
    return axis;
}

bool Within(const quro::Match& a, const quro::Match& b, double d) {
    return std::fabs((double(a.x) + a.dx) - (double(b.x) + b.dx)) <= d &&
           std::fabs((double(a.y) + a.dy) - (double(b.y) + b.dy)) <= d;
}

// Frees a result handle when it goes out of scope.
struct HandleGuard {
    int handle;
    ~HandleGuard() {
        if (handle > 0) clear_mems(handle);
    }
};

}  // namespace

TileGrid MakeTileGrid(cv::Size image, cv::Size model) {
    return {SplitAxis(image.width, model.width), SplitAxis(image.height, model.height)};
}

void RemoveDuplicateMatches(std::vector<quro::Match>& sorted, float distance) {
    const double d = distance >= kMinDuplicateDistance ? distance : kMinDuplicateDistance;
    size_t kept = std::min<size_t>(sorted.size(), 1);
    for (size_t i = 1; i < sorted.size(); ++i) {
        bool duplicate = false;
        for (size_t k = kept; k-- > 0 && !duplicate;) duplicate = Within(sorted[k], sorted[i], d);
        if (!duplicate) sorted[kept++] = sorted[i];
    }
    sorted.resize(kept);
}

int FindShapeModelTiled(const cv::Mat& image, int id, float angle_start, float angle_extent,
                        float min_score, int num_matches, float max_overlap, int subpixel,
                        int* levels, float greediness, float duplicate_distance,
                        std::vector<quro::Match>& matches) {
    matches.clear();
    if (image.empty() || image.type() != CV_8UC1) return -1;
    int width0 = 0, height0 = 0;
    get_shape_model_param(id, "width0", &width0);
    get_shape_model_param(id, "height0", &height0);
    if (width0 < 1 || height0 < 1) return -2;
    try {
        const TileGrid grid = MakeTileGrid(image.size(), {width0, height0});
        for (size_t r = 0; r < grid.rows.starts.size(); ++r) {
            for (size_t c = 0; c < grid.columns.starts.size(); ++c) {
                const cv::Point origin(grid.columns.starts[c], grid.rows.starts[r]);
                cv::Mat tile =
                    image(cv::Rect(origin, cv::Point(grid.columns.ends[c], grid.rows.ends[r])))
                        .clone();
                quro::Match* found = nullptr;
                int count = 0;
                const HandleGuard guard{find_shape_model(
                    tile.data, tile.cols, tile.rows, id, angle_start, angle_extent, min_score,
                    num_matches, max_overlap, subpixel, levels, greediness, found, count)};
                if (guard.handle < 0) return -1;
                for (int k = 0; guard.handle > 0 && k < count; ++k) {
                    quro::Match m = found[k];
                    m.x += origin.x;
                    m.y += origin.y;
                    matches.push_back(m);
                }
            }
        }
        std::stable_sort(matches.begin(), matches.end());
        RemoveDuplicateMatches(matches, duplicate_distance);
    } catch (const std::exception&) {
        return -1;
    }
    return 0;
}

}  // namespace tessolin
