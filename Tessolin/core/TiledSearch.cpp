// Tile grid, tile searches and duplicate removal of the workbench's large-image search.
#include "core/TiledSearch.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <opencv2/imgproc.hpp>
#include <utility>

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

// A box posed at a match: its corners, area, and the centre and radius of a disc holding it.
struct Posed {
    std::vector<cv::Point2f> corners;
    float area, x, y, reach;
};

// The box posed at match m: a model point (X, Y) lands at (c X + s Y, c Y - s X) + (x + dx,
// y + dy), c and s the cosine and sine of the angle, after X is scaled by the column scale and Y
// by the row scale. Half extents below 0.5 count as 0.5.
Posed PosedBox(const ModelBox& box, const quro::Match& m) {
    const float half_w = std::max(0.5f, 0.5f * (box.max_x - box.min_x) * std::fabs(m.scale_col));
    const float half_h = std::max(0.5f, 0.5f * (box.max_y - box.min_y) * std::fabs(m.scale_row));
    const float cx = 0.5f * (box.min_x + box.max_x) * m.scale_col;
    const float cy = 0.5f * (box.min_y + box.max_y) * m.scale_row;
    const float a = m.angle * 0.017453292f, c = std::cos(a), s = std::sin(a);
    const float x = float(m.x) + m.dx, y = float(m.y) + m.dy;
    Posed p{{}, 4.f * half_w * half_h, c * cx + s * cy + x, c * cy - s * cx + y,
            std::hypot(half_w, half_h)};
    for (const auto& [sx, sy] : {std::pair{-1.f, -1.f}, {1.f, -1.f}, {1.f, 1.f}, {-1.f, 1.f}}) {
        const float px = cx + sx * half_w, py = cy + sy * half_h;
        p.corners.emplace_back(c * px + s * py + x, c * py - s * px + y);
    }
    return p;
}

// Intersection area over the smaller area; 0 for boxes whose discs do not meet or that hold a
// non-finite value.
float Overlap(const Posed& a, const Posed& b) {
    const float reach = a.reach + b.reach + 1.f;
    if (!(std::hypot(a.x - b.x, a.y - b.y) <= reach) || !std::isfinite(a.area + b.area)) return 0.f;
    std::vector<cv::Point2f> common;
    const float shared = cv::intersectConvexConvex(a.corners, b.corners, common, true);
    return std::clamp(shared / std::min(a.area, b.area), 0.f, 1.f);
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

ModelBox ReadModelBox(int id) {
    ModelBox box;
    quro::TemplateF* outline = nullptr;
    const int handle = get_model_contour2(id, 0.f, 1.f, &outline);
    if (handle > 0 && outline && outline->count > 0) {
        box = {outline->points[0].x, outline->points[0].x, outline->points[0].y,
               outline->points[0].y};
        for (int k = 1; k < outline->count; ++k) {
            const quro::Feature& p = outline->points[k];
            box = {std::min(box.min_x, p.x), std::max(box.max_x, p.x), std::min(box.min_y, p.y),
                   std::max(box.max_y, p.y)};
        }
    }
    if (handle > 0) clear_mems(handle);
    return box;
}

void SuppressOverlappingMatches(std::vector<quro::Match>& sorted, const ModelBox& box,
                                float max_overlap) {
    if (!(max_overlap < 1.f)) return;  // an overlap is at most 1
    std::vector<Posed> kept_boxes;
    size_t kept = 0;
    for (size_t i = 0; i < sorted.size(); ++i) {
        const Posed b = PosedBox(box, sorted[i]);
        bool suppressed = false;
        for (size_t k = 0; k < kept && !suppressed; ++k)
            suppressed = Overlap(kept_boxes[k], b) > max_overlap;
        if (suppressed) continue;
        sorted[kept++] = sorted[i];
        kept_boxes.push_back(b);
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
        SuppressOverlappingMatches(matches, ReadModelBox(id), max_overlap);
    } catch (const std::exception&) {
        return -1;
    }
    return 0;
}

}  // namespace tessolin
