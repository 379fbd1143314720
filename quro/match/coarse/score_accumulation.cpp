#include "quro/match/coarse/score_accumulation.h"

#include <algorithm>
#include <cstdint>

#include "quro/match/coarse/score_kernels.h"

namespace quro {
namespace {

std::int16_t saturate16(int v) {
    return static_cast<std::int16_t>(std::clamp(v, -32768, 32767));
}

void check_maps(const std::vector<cv::Mat>& maps) {
    CV_Assert(maps.size() == 16);
    for (const cv::Mat& m : maps) {
        CV_Assert(m.dims == 2 && m.size() == maps[0].size());
        if (!m.empty()) CV_Assert(m.type() == CV_8SC1 && m.isContinuous());
    }
}

void check_template(const QuantizedTemplate& tpl) {
    const std::size_t n = tpl.size();
    CV_Assert(tpl.ys.size() == n && tpl.codes.size() == n);
    for (std::size_t k = 0; k < n; ++k) {
        CV_Assert(tpl.codes[k] >= 0 && tpl.codes[k] < 16);
        CV_Assert(tpl.xs[k] >= tpl.min_x && tpl.xs[k] <= tpl.max_x);
        CV_Assert(tpl.ys[k] >= tpl.min_y && tpl.ys[k] <= tpl.max_y);
    }
}

}  // namespace

void accumulate_rows_scalar(std::int16_t* acc, const std::int8_t* const* srcs, int count,
                            std::size_t n) {
    for (int j = 0; j < count; ++j) {
        const std::int8_t* src = srcs[j];
        for (std::size_t i = 0; i < n; ++i) acc[i] = saturate16(acc[i] + src[i]);
    }
}

void fold_sign_scalar(std::int16_t* score, std::int8_t* polarity, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const int v = score[i];
        polarity[i] = v < 0 ? -1 : 1;
        score[i] = saturate16(v < 0 ? -v : v);
    }
}

void accumulate_similarity_with(const std::vector<cv::Mat>& maps, const QuantizedTemplate& tpl,
                                int metric, cv::Mat& score, cv::Mat& polarity,
                                const Deadline& deadline, KernelPath path, ScoreScope scope) {
    if (deadline.passed()) return;
    check_maps(maps);
    check_template(tpl);
    const int rows = maps[0].rows;
    const int cols = maps[0].cols;
    // Outputs that already have the size and type keep their memory (a search scores every
    // angle into the same two images of its thread).
    score.create(rows, cols, CV_16SC1);
    polarity.create(rows, cols, CV_8SC1);
    score.setTo(cv::Scalar(0));
    polarity.setTo(cv::Scalar(1));
    cv::Mat sums = score;
    cv::Mat signs = polarity;
    const std::size_t n = tpl.size();
    if (n == 0) return;  // an empty template has no box

    const std::int64_t w = static_cast<std::int64_t>(tpl.max_x) - tpl.min_x + 1;
    const std::int64_t h = static_cast<std::int64_t>(tpl.max_y) - tpl.min_y + 1;
    const std::int64_t c = cols;
    const std::int64_t positions = (rows - h + 1) * c - w + 1;
    if (positions <= 0) return;

    const bool avx2 = use_avx2(path);
    // With response values no sum can saturate below 32767 / kMaxResponse points: summing a
    // group of rows in bytes first gives the same images.
    const bool narrow = avx2 && scope.values == MapValues::responses &&
                        n <= static_cast<std::size_t>(32767 / kMaxResponse);
    static_assert(kAccumulationCheckPoints <= kNarrowRows);
    // The rows and columns of positions to score: the scope's (all by default) within the map.
    const cv::Rect win = scope.positions.empty()
                             ? cv::Rect(0, 0, cols, rows)
                             : scope.positions & cv::Rect(0, 0, cols, rows);
    if (win.empty()) return;
    // Rows of positions follow each other in memory: one stretch from the window's first position
    // to its last, in blocks of kAccumulationBlock positions. Only a wide window (whose row spans
    // keep the vector loops full) skips the columns beside it: bands of rows, a span per row.
    const bool whole_rows = win.width < kRowSpanMin || win.width == cols;
    const std::int64_t first = std::int64_t{win.y} * c + win.x;
    const std::int64_t last =
        std::min(std::int64_t{win.y + win.height - 1} * c + win.x + win.width, positions);
    const int band_rows = std::max(1, kAccumulationBlock / win.width);
    std::int16_t* acc = sums.ptr<std::int16_t>();
    const std::int8_t* base[kAccumulationCheckPoints];
    const std::int8_t* srcs[kAccumulationCheckPoints];
    const auto add_span = [&](int count, std::int64_t start, std::int64_t end) {
        end = std::min(end, positions);
        if (end <= start) return;
        for (int j = 0; j < count; ++j) srcs[j] = base[j] + start;
        const auto len = static_cast<std::size_t>(end - start);
        if (narrow)
            accumulate_rows_narrow_avx2(acc + start, srcs, count, len);
        else if (avx2)
            accumulate_rows_avx2(acc + start, srcs, count, len);
        else
            accumulate_rows_scalar(acc + start, srcs, count, len);
    };
    // The order of the points: the template's, where sums may saturate (the order of the clamped
    // additions shows); else by map and offset, so that the points of a group read overlapping
    // stretches of one map and the block's reads stay in the nearest cache.
    // Only worth its cost when the reads leave the nearest cache: more than one block.
    const bool sorted = narrow && last - first > kAccumulationBlock;
    std::vector<std::size_t> order(sorted ? n : 0);
    if (sorted) {
        for (std::size_t k = 0; k < n; ++k) order[k] = k;
        const auto key = [&](std::size_t k) {
            return std::pair(tpl.codes[k], std::int64_t{tpl.ys[k]} * c + tpl.xs[k]);
        };
        std::stable_sort(order.begin(), order.end(),
                         [&](std::size_t a, std::size_t b) { return key(a) < key(b); });
    }
    // Block b: positions [first + b * kAccumulationBlock, ...) or rows win.y + b * band_rows, ...
    const std::int64_t blocks = whole_rows
                                    ? (last - first + kAccumulationBlock - 1) / kAccumulationBlock
                                    : (win.height + band_rows - 1) / band_rows;
    for (std::int64_t blk = 0; blk < blocks; ++blk) {
        for (std::size_t k0 = 0; k0 < n; k0 += kAccumulationCheckPoints) {
            const int count =
                static_cast<int>(std::min<std::size_t>(kAccumulationCheckPoints, n - k0));
            for (int j = 0; j < count; ++j) {
                const std::size_t k = sorted ? order[k0 + static_cast<std::size_t>(j)]
                                             : k0 + static_cast<std::size_t>(j);
                const std::int64_t offset = (static_cast<std::int64_t>(tpl.ys[k]) - tpl.min_y) * c +
                                            (static_cast<std::int64_t>(tpl.xs[k]) - tpl.min_x);
                base[j] = maps[static_cast<std::size_t>(tpl.codes[k])].ptr<std::int8_t>() + offset;
            }
            if (whole_rows) {
                const std::int64_t start = first + blk * kAccumulationBlock;
                add_span(count, start, std::min(start + kAccumulationBlock, last));
            } else {
                const std::int64_t r0 = win.y + blk * band_rows;
                const std::int64_t r1 = std::min<std::int64_t>(r0 + band_rows, win.y + win.height);
                for (std::int64_t r = r0; r < r1; ++r)
                    add_span(count, r * c + win.x, r * c + win.x + win.width);
            }
            if (deadline.passed()) return;
        }
    }
    if (metric < 0) {
        const auto total = static_cast<std::size_t>(positions);
        if (avx2)
            fold_sign_avx2(acc, signs.ptr<std::int8_t>(), total);
        else
            fold_sign_scalar(acc, signs.ptr<std::int8_t>(), total);
    }
}

void accumulate_similarity(const std::vector<cv::Mat>& maps, const QuantizedTemplate& tpl,
                           int metric, cv::Mat& score, cv::Mat& polarity, const Deadline& deadline,
                           ScoreScope scope) {
    accumulate_similarity_with(maps, tpl, metric, score, polarity, deadline, KernelPath::automatic,
                               scope);
}

}  // namespace quro
