// Greedy non-maximum suppression over boxes of any kind, with the overlap measure given by the
// caller. Included by my_nmsboxes.cpp; see NMSFast_ in my_nmsboxes.h for the contract.
#ifndef QURO_MATCH_MY_NMS_INL
#define QURO_MATCH_MY_NMS_INL

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

template <typename Box, typename Overlap>
void NMSFast_(const std::vector<Box>& bboxes, const std::vector<float>& scores,
              float score_threshold, float nms_threshold, float eta, std::vector<int>& indices,
              int limit, Overlap overlap) {
    nms_check_args(bboxes.size(), scores.size(), score_threshold, nms_threshold, eta,
                   "cv::dnn::NMSFast_");
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
        bool keep = true;
        for (const int kept : indices) {
            if (overlap(bboxes[static_cast<std::size_t>(idx)],
                        bboxes[static_cast<std::size_t>(kept)]) > adaptive) {
                keep = false;
                break;
            }
        }
        if (!keep) continue;
        indices.push_back(idx);
        if (limit > 0 && indices.size() >= static_cast<std::size_t>(limit)) break;
        if (eta < 1.f && adaptive > 0.5f) adaptive *= eta;
    }
}

}  // namespace quro

#endif  // QURO_MATCH_MY_NMS_INL
