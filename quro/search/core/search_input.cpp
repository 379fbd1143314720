#include "quro/search/core/search_input.h"

#include <cmath>

#include <opencv2/imgproc.hpp>

#include "quro/search/core/level_plan.h"
#include "quro/status.h"

namespace quro {

int check_search_args(const unsigned char* data, int width, int height, float angle_start,
                      float angle_extent, float min_score, float max_overlap) {
    if (data == nullptr || width < 1 || height < 1) return kFailed;
    // NaN fails every comparison, so these reject it too.
    if (!(min_score >= 0.f) || !(max_overlap >= 0.f)) return kFailed;
    if (!std::isfinite(angle_start) || !std::isfinite(angle_extent)) return kFailed;
    if (angle_extent < -1e-6f || angle_extent > kMaxAngleExtent) return kFailed;
    return kOk;
}

int check_scale_range(float scale_min, float scale_max) {
    if (!std::isfinite(scale_min) || !std::isfinite(scale_max)) return kFailed;
    if (scale_min <= 0.f || scale_min > scale_max + 1e-6f) return kFailed;
    return kOk;
}

std::vector<cv::Mat> build_search_pyramid(const unsigned char* data, int width, int height,
                                          int levels_used, const TimeLimit& limit) {
    std::vector<cv::Mat> pyr(static_cast<std::size_t>(std::max(levels_used, 0)));
    if (pyr.empty()) return pyr;
    pyr[0] = cv::Mat(height, width, CV_8UC1, const_cast<unsigned char*>(data));
    for (std::size_t k = 1; k < pyr.size() && !limit.passed(); ++k)
        cv::pyrDown(pyr[k - 1], pyr[k], cv::Size(), cv::BORDER_REFLECT101);
    return pyr;
}

std::vector<cv::Mat> build_mask_pyramid(const unsigned char* mask, int width, int height,
                                        int levels_used) {
    std::vector<cv::Mat> pyr;
    if (mask == nullptr || levels_used < 1) return pyr;
    const cv::Mat full(height, width, CV_8UC1, const_cast<unsigned char*>(mask));
    // A mask without a 0 hides nothing on either level (halving values of at least 1 gives at
    // least 1), so it is treated as no mask.
    if (cv::countNonZero(full) == full.rows * full.cols) return pyr;
    pyr.resize(static_cast<std::size_t>(levels_used));
    pyr[0] = full;
    if (levels_used > 1) cv::pyrDown(pyr[0], pyr[1], cv::Size(), cv::BORDER_REFLECT101);
    return pyr;
}

int search_min_contrast(int model_min_contrast) {
    return model_min_contrast < 2 ? 1 : model_min_contrast;
}

}  // namespace quro
