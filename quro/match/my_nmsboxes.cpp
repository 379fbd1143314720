#include "quro/match/my_nmsboxes.h"

#include <algorithm>
#include <cstdint>

#include "quro/match/my_nms.inl"

namespace quro {

float rect_overlap(const cv::Rect& a, const cv::Rect& b) {
    const std::int64_t area_a = static_cast<std::int64_t>(a.width) * a.height;
    const std::int64_t area_b = static_cast<std::int64_t>(b.width) * b.height;
    if (area_a + area_b <= 0) return 1.f;
    const std::int64_t x0 = std::max<std::int64_t>(a.x, b.x);
    const std::int64_t y0 = std::max<std::int64_t>(a.y, b.y);
    const std::int64_t x1 = std::min(static_cast<std::int64_t>(a.x) + a.width,
                                     static_cast<std::int64_t>(b.x) + b.width);
    const std::int64_t y1 = std::min(static_cast<std::int64_t>(a.y) + a.height,
                                     static_cast<std::int64_t>(b.y) + b.height);
    const std::int64_t inter = (x1 > x0 && y1 > y0) ? (x1 - x0) * (y1 - y0) : 0;
    const double ratio = static_cast<double>(inter) / static_cast<double>(area_a + area_b - inter);
    return 1.f - static_cast<float>(1.0 - ratio);
}

void NMSFast_(const std::vector<cv::Rect>& bboxes, const std::vector<float>& scores,
              float score_threshold, float nms_threshold, float eta, std::vector<int>& indices,
              int limit) {
    NMSFast_(bboxes, scores, score_threshold, nms_threshold, eta, indices, limit, rect_overlap);
}

void NMSBoxes(const std::vector<cv::Rect>& bboxes, const std::vector<float>& scores,
              float score_threshold, float nms_threshold, std::vector<int>& indices, float eta) {
    nms_check_args(bboxes.size(), scores.size(), score_threshold, nms_threshold, eta,
                   "cv::dnn::NMSBoxes");
    NMSFast_(bboxes, scores, score_threshold, nms_threshold, eta, indices, INT_MAX);
}

}  // namespace quro
