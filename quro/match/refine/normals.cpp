#include "quro/match/refine/normals.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "quro/match/refine/normal_kernels.h"
#include "quro/parallel.h"

namespace quro {

void normal_row_scalar(const std::uint8_t* up, const std::uint8_t* cur, const std::uint8_t* down,
                       int begin, int end, int min_sum, float* nx, float* ny) {
    for (int c = begin; c < end; ++c) {
        // Padded index c + k is level column c + k - 1.
        const int ul = up[c], uc = up[c + 1], ur = up[c + 2];
        const int cl = cur[c], cr = cur[c + 2];
        const int dl = down[c], dc = down[c + 1], dr = down[c + 2];
        const int gx = ur + 2 * cr + dr - ul - 2 * cl - dl;
        const int gy = dl + 2 * dc + dr - ul - 2 * uc - ur;
        const int sum = gx * gx + gy * gy;
        if (sum >= min_sum) {
            const float m = 0.25f * std::sqrt(static_cast<float>(sum));
            nx[c] = (0.25f * static_cast<float>(gx)) / m;
            ny[c] = (0.25f * static_cast<float>(gy)) / m;
        } else {
            nx[c] = 0.f;
            ny[c] = 0.f;
        }
    }
}

namespace {

// The threshold as a squared gradient length: the least s >= 1 with 0.25f * sqrtf(s) >= threshold,
// or one above the largest sum when no sum reaches it (a NaN threshold keeps nothing).
int min_kept_sum(float threshold) {
    // m(s) = 0.25f * sqrtf(s) never decreases with s, so the kept sums form a tail of 1..max.
    const auto kept = [threshold](int s) {
        return 0.25f * std::sqrt(static_cast<float>(s)) >= threshold;
    };
    int lo = 1, hi = kMaxGradientSum + 1;  // the answer lies in [lo, hi]
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (kept(mid))
            hi = mid;
        else
            lo = mid + 1;
    }
    return lo;
}


// Copies level row r into a padded row: its first and last pixel repeated once at either end.
void fill_padded(const cv::Mat& level, int r, std::uint8_t* dst) {
    const std::uint8_t* src = level.ptr<std::uint8_t>(r);
    const int cols = level.cols;
    dst[0] = src[0];
    std::memcpy(dst + 1, src, static_cast<std::size_t>(cols));
    dst[cols + 1] = src[cols - 1];
}

void zero_row(cv::Mat& map, int r, int begin, int count) {
    if (count > 0)
        std::memset(map.ptr<float>(r) + begin, 0, static_cast<std::size_t>(count) * sizeof(float));
}

// Level rows [band.start, band.end) of the maps, plus their left and right frame. The band also
// clears the top frame when it starts at row 0 and the bottom frame when it ends at the last row.
// Asks the limit before every kNormalCheckRows rows and stops when it has passed.
void normals_band(const cv::Mat& level, cv::Mat& nx, cv::Mat& ny, int min_sum, int border,
                  bool vector, cv::Range band, const TimeLimit& limit) {
    const int first = band.start, last = band.end;
    const int rows = level.rows, cols = level.cols;
    const int out_cols = cols + 2 * border;
    if (border > 0) {
        if (first == 0)
            for (int i = 0; i < border; ++i) {
                zero_row(nx, i, 0, out_cols);
                zero_row(ny, i, 0, out_cols);
            }
        if (last == rows)
            for (int i = rows + border; i < rows + 2 * border; ++i) {
                zero_row(nx, i, 0, out_cols);
                zero_row(ny, i, 0, out_cols);
            }
    }
    const std::size_t padded = static_cast<std::size_t>(cols) + 2;
    std::vector<std::uint8_t> buffers(3 * padded);
    std::uint8_t* up = buffers.data();
    std::uint8_t* cur = up + padded;
    std::uint8_t* down = cur + padded;
    fill_padded(level, std::max(first - 1, 0), up);
    fill_padded(level, first, cur);
    for (int r = first; r < last; ++r) {
        if ((r - first) % kNormalCheckRows == 0 && limit.passed()) return;
        fill_padded(level, std::min(r + 1, rows - 1), down);
        const int out_r = r + border;
        float* px = nx.ptr<float>(out_r) + border;
        float* py = ny.ptr<float>(out_r) + border;
        if (vector)
            normal_row_avx2(up, cur, down, cols, min_sum, px, py);
        else
            normal_row_scalar(up, cur, down, 0, cols, min_sum, px, py);
        if (border > 0) {
            zero_row(nx, out_r, 0, border);
            zero_row(ny, out_r, 0, border);
            zero_row(nx, out_r, border + cols, border);
            zero_row(ny, out_r, border + cols, border);
        }
        std::swap(up, cur);
        std::swap(cur, down);  // the old "above" row becomes the buffer for the next "below"
    }
}

}  // namespace

bool compute_normals(const cv::Mat& level, cv::Mat& nx, float threshold, cv::Mat& ny, int border,
                     KernelPath path, const TimeLimit& limit) {
    CV_Assert(border >= 0);
    CV_Assert(level.empty() || level.type() == CV_8UC1);
    CV_Assert(std::int64_t{level.rows} + 2 * std::int64_t{border} <= INT_MAX &&
              std::int64_t{level.cols} + 2 * std::int64_t{border} <= INT_MAX);
    const int rows = level.rows, cols = level.cols;
    nx.create(rows + 2 * border, cols + 2 * border, CV_32FC1);
    ny.create(rows + 2 * border, cols + 2 * border, CV_32FC1);
    if (rows < 1 || cols < 1) {
        nx.setTo(0.f);
        ny.setTo(0.f);
        return true;
    }
    const int min_sum = min_kept_sum(threshold);
    const bool vector = use_avx2(path);
    // A band re-reads the two rows around its start, so bands hold at least about 8 rows.
    parallel_for_ranges(static_cast<std::size_t>(rows), RangeCut{.serial_below = 16, .grain = 16},
                        [&](std::size_t first, std::size_t last) {
                            normals_band(level, nx, ny, min_sum, border, vector,
                                         {static_cast<int>(first), static_cast<int>(last)}, limit);
                        });
    return !limit.passed();
}

void _getNormal33(const cv::Mat& level, cv::Mat& nx, float threshold, cv::Mat& ny) {
    compute_normals(level, nx, threshold, ny, 0, KernelPath::automatic);
}

void _getNormal34(const cv::Mat& level, cv::Mat& nx, float threshold, cv::Mat& ny, int border) {
    compute_normals(level, nx, threshold, ny, border, KernelPath::automatic);
}

void _setNxNyZero(const cv::Mat& mask, cv::Mat& nx, cv::Mat& ny, int offset) {
    CV_Assert(offset >= 0);
    CV_Assert(mask.empty() || mask.type() == CV_8UC1);
    CV_Assert(nx.type() == CV_32FC1 && ny.type() == CV_32FC1 && nx.size() == ny.size());
    const std::int64_t inner_rows = std::int64_t{nx.rows} - 2 * std::int64_t{offset};
    const std::int64_t inner_cols = std::int64_t{nx.cols} - 2 * std::int64_t{offset};
    if (inner_rows < 1 || inner_cols < 1 || mask.rows < 1 || mask.cols < 1) return;
    const int rows = static_cast<int>(std::min<std::int64_t>(mask.rows, inner_rows));
    const int cols = static_cast<int>(std::min<std::int64_t>(mask.cols, inner_cols));
    const auto mask_rows = static_cast<std::size_t>(rows);
    parallel_for_ranges(mask_rows, RangeCut{}, [&](std::size_t row_begin, std::size_t row_end) {
        for (int r = static_cast<int>(row_begin); r < static_cast<int>(row_end); ++r) {
            const std::uint8_t* m = mask.ptr<std::uint8_t>(r);
            // Most rows of a mask hide nothing: find the first 0 with memchr and skip the rest.
            const void* first = std::memchr(m, 0, static_cast<std::size_t>(cols));
            if (first == nullptr) continue;
            float* px = nx.ptr<float>(r + offset) + offset;
            float* py = ny.ptr<float>(r + offset) + offset;
            for (int c = static_cast<int>(static_cast<const std::uint8_t*>(first) - m); c < cols;
                 ++c)
                if (m[c] == 0) {
                    px[c] = 0.f;
                    py[c] = 0.f;
                }
        }
    });
}

}  // namespace quro
