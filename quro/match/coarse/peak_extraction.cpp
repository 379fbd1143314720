#include "quro/match/coarse/peak_extraction.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "quro/match/coarse/my_nmsboxes.h"
#include "quro/match/coarse/orientation_codes.h"

namespace quro {
namespace {

// The rows r0..r1 and columns c0..c1 (inclusive) the peak scan visits.
struct ScanRange {
    std::int64_t m, r0, r1, c0, c1;
};

ScanRange scan_range(int rows, int cols, const QuantizedTemplate& tpl, const OutlineBox& box) {
    const std::int64_t m = orientation_border_of_frame(box.radius, rows, cols);
    return {m, std::max<std::int64_t>(1, tpl.min_y + m + 1),
            std::min<std::int64_t>(rows + std::int64_t{tpl.min_y} - m, rows) - 2,
            std::max<std::int64_t>(1, tpl.min_x + m + 1),
            std::min<std::int64_t>(cols + std::int64_t{tpl.min_x} - m, cols) - 2};
}

// Whether any of the kSkipRun scores from p on lies above t (a maximum the compiler vectorises).
constexpr std::int64_t kSkipRun = 16;
// Kept out of line: inlined into the scan it was not vectorised.
[[gnu::noinline]] bool any_above(const std::int16_t* p, std::int16_t t) {
    std::int16_t most = p[0];
    for (std::int64_t j = 1; j < kSkipRun; ++j) most = std::max(most, p[j]);
    return most > t;
}

void extract(const cv::Mat& score, const QuantizedTemplate& tpl, float min_score, float overlap,
             const OutlineBox& box, float angle, float scale_row, float scale_col,
             std::vector<Match>& out, const Deadline& deadline, const cv::Mat& polarity) {
    if (deadline.passed() || score.empty()) return;
    CV_Assert(score.type() == CV_16SC1 && score.dims == 2);
    CV_Assert(polarity.type() == CV_8SC1 && polarity.size() == score.size());
    const std::size_t n = tpl.size();
    std::vector<Match> cands;
    std::vector<cv::Rect> boxes;
    std::vector<float> scores;
    if (n > 0) {
        const int threshold = peak_threshold(n, min_score);
        const float factor = 1.f / static_cast<float>(4.0 * static_cast<double>(n));
        const auto [m, r0, r1, c0, c1] = scan_range(score.rows, score.cols, tpl, box);
        const std::int64_t rows = score.rows, cols = score.cols;
        const std::int64_t w = static_cast<std::int64_t>(tpl.max_x) - tpl.min_x + 1;
        const std::int64_t h = static_cast<std::int64_t>(tpl.max_y) - tpl.min_y + 1;
        const double reserve = static_cast<double>(rows) * 1.5 * static_cast<double>(cols) /
                               (static_cast<double>(w) * static_cast<double>(h));
        const auto hint =
            static_cast<std::size_t>(std::clamp(reserve, 0.0, double{kMaxPeakReserve}));
        cands.reserve(hint);
        boxes.reserve(hint);
        scores.reserve(hint);
        const int box_w = static_cast<int>(std::min<std::int64_t>(w, INT_MAX));
        const int box_h = static_cast<int>(std::min<std::int64_t>(h, INT_MAX));
        // Most positions score at or below the threshold: runs of them are stepped over at once.
        // (None is when the threshold lies below every score.)
        const bool skip = threshold >= -32768;
        const auto skip_below = static_cast<std::int16_t>(std::min(threshold, 32767));
        for (std::int64_t r = r0; r <= r1; ++r) {
            const auto ri = static_cast<int>(r);
            const std::int16_t* up = score.ptr<std::int16_t>(ri - 1);
            const std::int16_t* mid = score.ptr<std::int16_t>(ri);
            const std::int16_t* down = score.ptr<std::int16_t>(ri + 1);
            const std::int8_t* pol = polarity.ptr<std::int8_t>(ri);
            for (std::int64_t c = c0; c <= c1; ++c) {
                if (skip && c + kSkipRun <= c1 + 1 && !any_above(mid + c, skip_below)) {
                    c += kSkipRun - 1;
                    continue;
                }
                const int v = mid[c];
                if (v <= threshold) continue;
                if (v < up[c - 1] || v < up[c] || v < up[c + 1] || v < mid[c - 1] ||
                    v < mid[c + 1] || v < down[c - 1] || v < down[c] || v < down[c + 1]) {
                    continue;
                }
                const auto ci = static_cast<int>(c);
                const float s = static_cast<float>(v) * factor;
                Match cand(static_cast<int>(c - tpl.min_x - m), static_cast<int>(r - tpl.min_y - m),
                           s, angle, scale_row, scale_col, 0, pol[c]);
                cands.push_back(cand);
                scores.push_back(s);
                boxes.emplace_back(ci, ri, box_w, box_h);
            }
        }
    }
    std::vector<int> kept;
    NMSBoxes(boxes, scores, min_score, overlap, kept, 1.f);
    std::vector<Match> result;
    result.reserve(kept.size());
    for (const int i : kept) result.push_back(cands[static_cast<std::size_t>(i)]);
    out.swap(result);
}

}  // namespace

cv::Rect peak_read_window(cv::Size size, const QuantizedTemplate& tpl, const OutlineBox& box) {
    if (tpl.size() == 0) return {};
    const ScanRange s = scan_range(size.height, size.width, tpl, box);
    if (s.r1 < s.r0 || s.c1 < s.c0) return {};
    // The scanned positions and their eight neighbours (the scan keeps one position off each edge).
    return cv::Rect(static_cast<int>(s.c0 - 1), static_cast<int>(s.r0 - 1),
                    static_cast<int>(s.c1 - s.c0 + 3), static_cast<int>(s.r1 - s.r0 + 3));
}

int peak_threshold(std::size_t n, float min_score) {
    const float t = static_cast<float>(4.0 * static_cast<double>(n)) * min_score;
    if (!(t == t)) return INT_MAX;  // NaN
    // 2^31 is the first float above INT_MAX; converting anything beyond the range is undefined.
    if (t >= 2147483648.f) return INT_MAX;
    if (t <= -2147483648.f) return INT_MIN;
    return static_cast<int>(t);
}

void extract_peaks(const cv::Mat& score, const QuantizedTemplate& tpl, float min_score,
                   float overlap, const OutlineBox& box, float angle, float scale,
                   std::vector<Match>& out, const Deadline& deadline, const cv::Mat& polarity) {
    extract(score, tpl, min_score, overlap, box, angle, scale, scale, out, deadline, polarity);
}

void extract_peaks_aniso(const cv::Mat& score, const QuantizedTemplate& tpl, float min_score,
                         float overlap, const OutlineBox& box, float angle, float scale_row,
                         float scale_col, std::vector<Match>& out, const Deadline& deadline,
                         const cv::Mat& polarity) {
    extract(score, tpl, min_score, overlap, box, angle, scale_row, scale_col, out, deadline,
            polarity);
}

}  // namespace quro
