// Greedy non-maximum suppression over boxes of any kind, with the overlap measure given by the
// caller. Included by my_nmsboxes.cpp; see NMSFast_ in my_nmsboxes.h for the contract.
#ifndef QURO_MATCH_COARSE_MY_NMS_INL
#define QURO_MATCH_COARSE_MY_NMS_INL

#include <algorithm>
#include <opencv2/core.hpp>
#include <utility>
#include <vector>

namespace quro {

// Raises the suppression's argument error: code -215 with `condition` as its text, in `function`.
inline void nms_require(bool ok, const char* condition, const char* function) {
    if (!ok) cv::error(cv::Error::StsAssert, condition, function, __FILE__, __LINE__);
}

// Checks the suppression's arguments in the order the errors are documented.
inline void nms_check_args(std::size_t boxes, std::size_t scores, float score_threshold,
                           float nms_threshold, float eta, const char* function) {
    nms_require(boxes == scores, "bboxes.size() == scores.size()", function);
    nms_require(score_threshold >= 0, "score_threshold >= 0", function);
    nms_require(nms_threshold >= 0, "nms_threshold >= 0", function);
    nms_require(eta > 0, "eta > 0", function);
}

// The greedy suppression itself. `kept` remembers the kept boxes and answers whether a box
// overlaps one of them by more than a limit: kept.exceeds(idx, limit) and kept.add(idx). Which
// kept boxes it compares cannot change the result, as long as it compares every kept box whose
// overlap with the box can be above the limit.
template <typename Kept>
void nms_greedy(const std::vector<float>& scores, float score_threshold, float nms_threshold,
                float eta, std::vector<int>& indices, int limit, Kept& kept) {
    indices.clear();
    std::vector<std::pair<float, int>> order;
    for (std::size_t i = 0; i < scores.size(); ++i) {
        if (scores[i] > score_threshold) order.emplace_back(scores[i], static_cast<int>(i));
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    float adaptive = nms_threshold;
    for (const auto& entry : order) {
        const int idx = entry.second;
        if (kept.exceeds(idx, adaptive)) continue;
        kept.add(idx);
        indices.push_back(idx);
        if (limit > 0 && indices.size() >= static_cast<std::size_t>(limit)) break;
        if (eta < 1.f && adaptive > 0.5f) adaptive *= eta;
    }
}

// Kept boxes compared one by one, in the order they were kept.
template <typename Box, typename Overlap>
struct KeptList {
    const std::vector<Box>& boxes;
    Overlap overlap;
    std::vector<int> kept;

    bool exceeds(int idx, float limit) const {
        for (const int k : kept)
            if (overlap(boxes[static_cast<std::size_t>(idx)], boxes[static_cast<std::size_t>(k)]) >
                limit)
                return true;
        return false;
    }
    void add(int idx) { kept.push_back(idx); }
};

template <typename Box, typename Overlap>
void NMSFast_(const std::vector<Box>& bboxes, const std::vector<float>& scores,
              float score_threshold, float nms_threshold, float eta, std::vector<int>& indices,
              int limit, Overlap overlap) {
    nms_check_args(bboxes.size(), scores.size(), score_threshold, nms_threshold, eta,
                   "cv::dnn::NMSFast_");
    KeptList<Box, Overlap> kept{bboxes, overlap, {}};
    nms_greedy(scores, score_threshold, nms_threshold, eta, indices, limit, kept);
}

}  // namespace quro

#endif  // QURO_MATCH_COARSE_MY_NMS_INL
