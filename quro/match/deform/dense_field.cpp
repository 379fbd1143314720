#include "quro/match/deform/dense_field.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <opencv2/imgproc.hpp>

#include "quro/match/deform/dense_field_spline.h"
#include "quro/parallel.h"

namespace quro {

namespace {

// Grids of fewer cells relax on the calling thread: a sweep over them takes a few microseconds,
// less than handing rows to other threads costs. Larger grids hand out bands of about kBandCells.
constexpr std::size_t kParallelCells = std::size_t{1} << 16;
constexpr std::size_t kBandCells = std::size_t{1} << 14;

// How the rows of a rows x cols grid are cut for a loop over them.
RangeCut row_cut(int rows, int cols) {
    const std::size_t cells = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
    if (cells < kParallelCells) return RangeCut{static_cast<std::size_t>(rows) + 1, 1};
    return RangeCut{2, std::max<std::size_t>(1, kBandCells / static_cast<std::size_t>(cols))};
}

// One grid level's fixed terms, interleaved like the field (x then y per cell): pull = c * data
// and keep = 1 - c for a cell of confidence c > 0; pull = 0 and keep = 1 elsewhere, so that
// pull + keep * a is exactly c * data + (1 - c) * a, or a.
struct LevelTerms {
    cv::Mat pull;  // CV_32FC2
    cv::Mat keep;  // CV_32FC2
};

// Rounds half to even (the default rounding mode) and tells whether the result is a cell index in
// [0, limit); NaN and infinities are not.
bool cell_index(double v, int limit, int& out) {
    const double r = std::nearbyint(v);
    if (!(r >= 0.0 && r < static_cast<double>(limit))) return false;
    out = static_cast<int>(r);
    return true;
}

// The points of one field solve: a cell holds the mean of its points' displacements and the
// largest of their confidences.
struct Binning {
    const std::vector<cv::Point2f>& positions;
    const std::vector<cv::Point2f>& displacements;
    const std::vector<float>& weights;
    double weight_scale;
    std::size_t n;
};

float confidence(float w, double weight_scale) {
    const double c = static_cast<double>(w) * weight_scale;
    return c > 0.0 ? static_cast<float>(std::min(1.0, c)) : 0.f;
}

// Bins the points into a grid of `grid` cells at scale s and returns its fixed terms; `any` tells
// whether some cell has a confidence above 0.
LevelTerms bin_points(cv::Size grid, double s, const Binning& b, bool& any) {
    cv::Mat sum(grid, CV_32FC2, cv::Scalar::all(0));
    cv::Mat conf(grid, CV_32FC1, cv::Scalar::all(0));
    cv::Mat count(grid, CV_32SC1, cv::Scalar::all(0));
    for (std::size_t k = 0; k < b.n; ++k) {
        const cv::Point2f d = b.displacements[k];
        int cx = 0;
        int cy = 0;
        if (!std::isfinite(d.x) || !std::isfinite(d.y)) continue;
        if (!cell_index(s * b.positions[k].x, grid.width, cx) ||
            !cell_index(s * b.positions[k].y, grid.height, cy))
            continue;
        cv::Vec2f& cell = sum.at<cv::Vec2f>(cy, cx);
        cell[0] += d.x;
        cell[1] += d.y;
        ++count.at<int>(cy, cx);
        float& cc = conf.at<float>(cy, cx);
        cc = std::max(cc, confidence(b.weights[k], b.weight_scale));
    }
    LevelTerms t{cv::Mat(grid, CV_32FC2), cv::Mat(grid, CV_32FC2)};
    any = false;
    for (int i = 0; i < grid.height; ++i) {
        const float* srow = sum.ptr<float>(i);
        const float* crow = conf.ptr<float>(i);
        const int* nrow = count.ptr<int>(i);
        float* prow = t.pull.ptr<float>(i);
        float* krow = t.keep.ptr<float>(i);
        for (int j = 0; j < grid.width; ++j) {
            const float div = nrow[j] >= 2 ? static_cast<float>(nrow[j]) : 1.f;
            const float c = crow[j];
            for (int ch = 0; ch < 2; ++ch) {
                const int e = 2 * j + ch;
                const float data = nrow[j] >= 2 ? srow[e] / div : srow[e];
                prow[e] = c > 0.f ? c * data : 0.f;
                krow[e] = c > 0.f ? 1.f - c : 1.f;
            }
            any = any || c > 0.f;
        }
    }
    return t;
}

// One Jacobi sweep over rows [r0, r1) of an interleaved grid of `rows` rows of `len` = 2 * cols
// floats: next = pull + keep * ((((up + down) + left) + right) * 0.25), each neighbour index
// clamped into the grid. The interior runs over row pointers without any clamping.
void sweep_rows(const cv::Mat& cur, cv::Mat& next, const LevelTerms& t, int r0, int r1) {
    const int rows = cur.rows;
    const int len = 2 * cur.cols;
    for (int i = r0; i < r1; ++i) {
        const float* c = cur.ptr<float>(i);
        const float* up = cur.ptr<float>(std::max(i - 1, 0));
        const float* down = cur.ptr<float>(std::min(i + 1, rows - 1));
        const float* pull = t.pull.ptr<float>(i);
        const float* keep = t.keep.ptr<float>(i);
        float* out = next.ptr<float>(i);
        if (len == 2) {
            for (int e = 0; e < 2; ++e)
                out[e] = pull[e] + keep[e] * ((((up[e] + down[e]) + c[e]) + c[e]) * 0.25f);
            continue;
        }
        for (int e = 0; e < 2; ++e)
            out[e] = pull[e] + keep[e] * ((((up[e] + down[e]) + c[e]) + c[e + 2]) * 0.25f);
        for (int e = 2; e < len - 2; ++e)
            out[e] = pull[e] + keep[e] * ((((up[e] + down[e]) + c[e - 2]) + c[e + 2]) * 0.25f);
        for (int e = len - 2; e < len; ++e)
            out[e] = pull[e] + keep[e] * ((((up[e] + down[e]) + c[e - 2]) + c[e]) * 0.25f);
    }
}

// Largest absolute difference between two grids of one size.
float largest_change(const cv::Mat& a, const cv::Mat& b) {
    float m = 0.f;
    const int len = a.cols * a.channels();
    for (int i = 0; i < a.rows; ++i) {
        const float* pa = a.ptr<float>(i);
        const float* pb = b.ptr<float>(i);
        for (int e = 0; e < len; ++e) m = std::max(m, std::fabs(pb[e] - pa[e]));
    }
    return m;
}

// Cells a grid needs so that, with cell centres `spacing` positions apart and the first on
// position 0, the last centre lies on or beyond position extent - 1.
int cells_covering(int extent, int spacing) {
    const long long cells = (static_cast<long long>(extent) - 2 + spacing) / spacing + 1;
    return static_cast<int>(std::max(1LL, cells));
}

// The field `coarse` (cell g at position g * factor) enlarged bilinearly to `size` cells at unit
// spacing: cell j takes the coarse value at j / factor; beyond the last coarse cell the edge value
// holds. (cv::resize maps pixel areas, which puts coarse cell g at factor * g + (factor - 1) / 2.)
cv::Mat enlarge(const cv::Mat& coarse, cv::Size size, int factor) {
    const double f = 1.0 / static_cast<double>(factor);
    const cv::Matx23d to_coarse(f, 0.0, 0.0, 0.0, f, 0.0);
    cv::Mat out;
    cv::warpAffine(coarse, out, to_coarse, size, cv::INTER_LINEAR | cv::WARP_INVERSE_MAP,
                   cv::BORDER_REPLICATE);
    return out;
}

// Relaxes `field` on its grid with the level's terms (see computeDisplacementFieldPyramid).
void relax(cv::Mat& field, const LevelTerms& t, double tolerance) {
    cv::Mat next(field.size(), CV_32FC2);
    const RangeCut cut = row_cut(field.rows, field.cols);
    for (int n = 0; n < kFieldMaxSweeps; ++n) {
        parallel_for_ranges(
            static_cast<std::size_t>(field.rows), cut, [&](std::size_t r0, std::size_t r1) {
                sweep_rows(field, next, t, static_cast<int>(r0), static_cast<int>(r1));
            });
        if (n > 0 && n % kFieldCheckInterval == 0 &&
            static_cast<double>(largest_change(field, next)) < tolerance)
            return;
        cv::swap(field, next);
    }
}

}  // namespace

namespace {

cv::Mat field_pyramid(cv::Size size, const Binning& b, int levels, double tolerance) {
    if (size.width < 1 || size.height < 1) return cv::Mat();
    const int depth = std::clamp(levels, 1, kFieldMaxLevels);
    cv::Mat field;
    bool zero = true;  // the field is still zero everywhere
    for (int p = depth - 1; p >= 0; --p) {
        const double s = std::ldexp(1.0, -p);
        const int spacing = 1 << std::min(p, 30);
        const cv::Size grid(cells_covering(size.width, spacing),
                            cells_covering(size.height, spacing));
        bool any = false;
        const LevelTerms terms = bin_points(grid, s, b, any);
        if (field.empty()) {
            field = cv::Mat(grid, CV_32FC2, cv::Scalar::all(0));
        } else {
            field = enlarge(field, grid, 2);
        }
        // A zero field without a confident cell stays zero: every sweep averages zeros.
        if (zero && !any) continue;
        relax(field, terms, tolerance);
        zero = false;
    }
    return field;
}

// Writes map_x = j + field x and map_y = i + field y, the field enlarged from its grid (a cell
// every 4 pixels) to `size`.
void write_maps(cv::Size size, const cv::Mat& field, cv::Mat& map_x, cv::Mat& map_y) {
    const cv::Mat full = enlarge(field, size, 4);
    map_x.create(size, CV_32FC1);
    map_y.create(size, CV_32FC1);
    parallel_for_ranges(static_cast<std::size_t>(size.height), row_cut(size.height, size.width),
                        [&](std::size_t r0, std::size_t r1) {
                            for (int i = static_cast<int>(r0); i < static_cast<int>(r1); ++i) {
                                const float* f = full.ptr<float>(i);
                                float* mx = map_x.ptr<float>(i);
                                float* my = map_y.ptr<float>(i);
                                const float row = static_cast<float>(i);
                                for (int j = 0; j < size.width; ++j) {
                                    mx[j] = f[2 * j] + static_cast<float>(j);
                                    my[j] = f[2 * j + 1] + row;
                                }
                            }
                        });
}

}  // namespace

cv::Mat computeDisplacementFieldPyramid(cv::Size size, const std::vector<cv::Point2f>& positions,
                                        const std::vector<cv::Point2f>& displacements,
                                        const std::vector<float>& weights, double weight_scale,
                                        int levels, int /*reserved*/, double tolerance) {
    const std::size_t n = std::min({positions.size(), displacements.size(), weights.size()});
    return field_pyramid(size, Binning{positions, displacements, weights, weight_scale, n}, levels,
                         tolerance);
}

int dense_field_levels(cv::Size size) {
    const int m = std::min(size.width / 4, size.height / 4);
    if (m <= 16) return 1;
    return std::min(6, static_cast<int>(std::trunc(std::log2(m * 0.0625))) + 1);
}

void generateDenseFieldFast(cv::Size size, const std::vector<cv::Point2f>& targets,
                            const std::vector<cv::Point2f>& sources,
                            const std::vector<float>& weights, cv::Mat& map_x, cv::Mat& map_y,
                            int /*reserved1*/, double weight_scale, int /*reserved2*/,
                            int /*reserved3*/) {
    if (size.width < 1 || size.height < 1) {
        map_x.release();
        map_y.release();
        return;
    }
    const std::size_t n = std::min(targets.size(), sources.size());
    std::vector<cv::Point2f> positions(n);
    std::vector<cv::Point2f> displacements(n);
    for (std::size_t k = 0; k < n; ++k) {
        positions[k] = sources[k] * 0.25f;
        displacements[k] = targets[k] - sources[k];
    }
    const cv::Size grid(cells_covering(size.width, 4), cells_covering(size.height, 4));
    const cv::Mat field =
        computeDisplacementFieldPyramid(grid, positions, displacements, weights, weight_scale,
                                        dense_field_levels(size), 0, kFieldTolerance);
    write_maps(size, field, map_x, map_y);
}

void dense_field_maps_spline(cv::Size size, const SplinePoints& points, const SplineFit& fit,
                             cv::Mat& map_x, cv::Mat& map_y) {
    if (size.width < 1 || size.height < 1) {
        map_x.release();
        map_y.release();
        return;
    }
    const cv::Size grid(cells_covering(size.width, 4), cells_covering(size.height, 4));
    cv::Mat field;
    solve_spline_field(points, fit, size, grid, 4, field);
    write_maps(size, field, map_x, map_y);
}

bool sampleFieldBilinear(const float* map_x, const float* map_y, float x, float y, int stride,
                         int width, int height, float& out_x, float& out_y) {
    out_x = 0.f;
    out_y = 0.f;
    if (!map_x || !map_y || width < 1 || height < 1 || stride < width) return false;
    const float max_x = static_cast<float>(width - 1);
    const float max_y = static_cast<float>(height - 1);
    const float cx = x > 0.f ? (x < max_x ? x : max_x) : 0.f;
    const float cy = y > 0.f ? (y < max_y ? y : max_y) : 0.f;
    const int x0 = static_cast<int>(cx);
    const int y0 = static_cast<int>(cy);
    const int x1 = std::min(x0 + 1, width - 1);
    const int y1 = std::min(y0 + 1, height - 1);
    const float fx = cx - static_cast<float>(x0);
    const float fy = cy - static_cast<float>(y0);
    const std::ptrdiff_t top = static_cast<std::ptrdiff_t>(y0) * stride;
    const std::ptrdiff_t bottom = static_cast<std::ptrdiff_t>(y1) * stride;
    const float w00 = (1.f - fx) * (1.f - fy);
    const float w01 = fx * (1.f - fy);
    const float w10 = (1.f - fx) * fy;
    const float w11 = fx * fy;
    out_x = w00 * map_x[top + x0] + w01 * map_x[top + x1] + w10 * map_x[bottom + x0] +
            w11 * map_x[bottom + x1];
    out_y = w00 * map_y[top + x0] + w01 * map_y[top + x1] + w10 * map_y[bottom + x0] +
            w11 * map_y[bottom + x1];
    return true;
}

}  // namespace quro
