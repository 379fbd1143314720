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
                                int metric, cv::Mat& score, cv::Mat& polarity, const Stopwatch& sw,
                                int timeout_ms, KernelPath path, MapValues values) {
    if (timed_out(sw, timeout_ms)) return;
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
    const bool narrow = avx2 && values == MapValues::responses &&
                        n <= static_cast<std::size_t>(32767 / kMaxResponse);
    static_assert(kAccumulationCheckPoints <= kNarrowRows);
    std::int16_t* acc = sums.ptr<std::int16_t>();
    for (std::int64_t start = 0; start < positions; start += kAccumulationBlock) {
        const auto len = static_cast<std::size_t>(
            std::min<std::int64_t>(start + kAccumulationBlock, positions) - start);
        for (std::size_t k0 = 0; k0 < n; k0 += kAccumulationCheckPoints) {
            const int count =
                static_cast<int>(std::min<std::size_t>(kAccumulationCheckPoints, n - k0));
            const std::int8_t* srcs[kAccumulationCheckPoints];
            for (int j = 0; j < count; ++j) {
                const std::size_t k = k0 + static_cast<std::size_t>(j);
                const std::int64_t offset = (static_cast<std::int64_t>(tpl.ys[k]) - tpl.min_y) * c +
                                            (static_cast<std::int64_t>(tpl.xs[k]) - tpl.min_x);
                srcs[j] = maps[static_cast<std::size_t>(tpl.codes[k])].ptr<std::int8_t>() + start +
                          offset;
            }
            if (narrow)
                accumulate_rows_narrow_avx2(acc + start, srcs, count, len);
            else if (avx2)
                accumulate_rows_avx2(acc + start, srcs, count, len);
            else
                accumulate_rows_scalar(acc + start, srcs, count, len);
            if (timed_out(sw, timeout_ms)) return;
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
                           int metric, cv::Mat& score, cv::Mat& polarity, const Stopwatch& sw,
                           int timeout_ms, MapValues values) {
    accumulate_similarity_with(maps, tpl, metric, score, polarity, sw, timeout_ms,
                               KernelPath::automatic, values);
}

}  // namespace quro
