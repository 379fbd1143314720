#include "quro/match/coarse/my_nmsboxes.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>

#include "quro/match/coarse/my_nms.inl"

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

namespace {

// Kept boxes of one size W x H, filed by the W x H grid cell of their corner. Boxes of one size
// intersect only when their corners lie less than W apart in x and H apart in y, so only the
// cells next to a box's own can hold a box that overlaps it; boxes that do not intersect overlap
// by 0, which never exceeds a limit (limits are at least 0). The result equals comparing every
// kept box, in time proportional to the boxes near each one (the coarse search suppresses
// thousands of peaks per angle on textured images).
struct KeptGrid {
    const std::vector<cv::Rect>& boxes;
    int w;
    int h;
    std::unordered_map<std::int64_t, std::vector<int>> cells;

    static std::int64_t floor_div(std::int64_t a, std::int64_t b) {
        return a >= 0 ? a / b : -((-a + b - 1) / b);
    }
    std::int64_t key(std::int64_t cx, std::int64_t cy) const { return cy * (std::int64_t{1} << 32) + cx; }

    bool exceeds(int idx, float limit) const {
        const cv::Rect& r = boxes[static_cast<std::size_t>(idx)];
        const std::int64_t cx = floor_div(r.x, w), cy = floor_div(r.y, h);
        for (std::int64_t y = cy - 1; y <= cy + 1; ++y)
            for (std::int64_t x = cx - 1; x <= cx + 1; ++x) {
                const auto it = cells.find(key(x, y));
                if (it == cells.end()) continue;
                for (const int k : it->second)
                    if (rect_overlap(r, boxes[static_cast<std::size_t>(k)]) > limit) return true;
            }
        return false;
    }
    void add(int idx) {
        const cv::Rect& r = boxes[static_cast<std::size_t>(idx)];
        cells[key(floor_div(r.x, w), floor_div(r.y, h))].push_back(idx);
    }
};

bool one_positive_size(const std::vector<cv::Rect>& boxes) {
    if (boxes.empty() || boxes[0].width <= 0 || boxes[0].height <= 0) return false;
    return std::all_of(boxes.begin(), boxes.end(), [&](const cv::Rect& r) {
        return r.width == boxes[0].width && r.height == boxes[0].height;
    });
}

}  // namespace

void NMSFast_(const std::vector<cv::Rect>& bboxes, const std::vector<float>& scores,
              float score_threshold, float nms_threshold, float eta, std::vector<int>& indices,
              int limit) {
    if (bboxes.size() < 64 || !one_positive_size(bboxes)) {
        NMSFast_(bboxes, scores, score_threshold, nms_threshold, eta, indices, limit, rect_overlap);
        return;
    }
    nms_check_args(bboxes.size(), scores.size(), score_threshold, nms_threshold, eta,
                   "cv::dnn::NMSFast_");
    KeptGrid kept{bboxes, bboxes[0].width, bboxes[0].height, {}};
    nms_greedy(scores, score_threshold, nms_threshold, eta, indices, limit, kept);
}

void NMSBoxes(const std::vector<cv::Rect>& bboxes, const std::vector<float>& scores,
              float score_threshold, float nms_threshold, std::vector<int>& indices, float eta) {
    nms_check_args(bboxes.size(), scores.size(), score_threshold, nms_threshold, eta,
                   "cv::dnn::NMSBoxes");
    NMSFast_(bboxes, scores, score_threshold, nms_threshold, eta, indices, INT_MAX);
}

}  // namespace quro
