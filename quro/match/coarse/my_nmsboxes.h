// Greedy non-maximum suppression of axis-parallel integer boxes (the coarse search's per-pose box
// suppression). The greedy loop itself is the template in my_nms.inl.
#ifndef QURO_MATCH_COARSE_MY_NMSBOXES_H
#define QURO_MATCH_COARSE_MY_NMSBOXES_H

#include <climits>
#include <opencv2/core.hpp>
#include <vector>

namespace quro {

// Overlap of two boxes: intersection area / (area a + area b - intersection area), computed as
// 1 - (float)(1 - ratio) with the ratio in double; 1 when the two areas sum to 0 or less. Areas in
// 64 bits, so no box size overflows.
float rect_overlap(const cv::Rect& a, const cv::Rect& b);

// Fills `indices` (cleared first) with the indices of the boxes kept, best first: the entries
// whose score is strictly above score_threshold, in descending score order (a stable sort: equal
// scores keep their list order), each kept when its rect_overlap with every box kept before it is
// at most the adaptive threshold a. a starts at nms_threshold; after each kept box, when eta < 1
// and a > 0.5, a = a * eta. Stops once `limit` indices are kept (limit <= 0: no limit).
// Throws cv::Exception with code cv::Error::StsAssert (-215) and the failed condition as its text
// -- "bboxes.size() == scores.size()", "score_threshold >= 0", "nms_threshold >= 0" or "eta > 0"
// (a NaN fails them too) -- in the function "cv::dnn::NMSFast_"; `indices` is untouched then.
void NMSFast_(const std::vector<cv::Rect>& bboxes, const std::vector<float>& scores,
              float score_threshold, float nms_threshold, float eta, std::vector<int>& indices,
              int limit = INT_MAX);

// NMSFast_ without a limit. Checks the same conditions first and raises the same errors in the
// function "cv::dnn::NMSBoxes".
void NMSBoxes(const std::vector<cv::Rect>& bboxes, const std::vector<float>& scores,
              float score_threshold, float nms_threshold, std::vector<int>& indices,
              float eta = 1.f);

}  // namespace quro

#endif  // QURO_MATCH_COARSE_MY_NMSBOXES_H
