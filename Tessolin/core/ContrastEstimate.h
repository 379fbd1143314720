// Proposal of the creation contrasts (ContrastLow, ContrastHigh, MinContrast, MinCompSize) for a
// model image, from its gradient and noise over a small pyramid. No Qt: the dialog only writes the
// result into its spinners.
//
// The library proposes contrasts too (auto_shape_model_params2), on the same skeleton: the same
// level count and pyramid, the first level with the smallest low, the component-size candidate
// and the bound by the contours that find_sub_pix_contours_c finds with level 0's thresholds.
// The workbench keeps its own proposal all the same, because the export gives other values and
// takes no other level statistic (the program reaches the library only through quro/quro.h):
// - per level, the library thins the gradient magnitude to its maxima along the gradient (after
//   a Sobel with a replicated border) before it stretches it; the workbench stretches the plain
//   magnitude (mirrored border), so its high is the smallest strong magnitude on an edge flank,
//   which keeps its proposal permissive;
// - the library lets a level above the first take part only while it can still hold the object
//   and its low is not below the image's noise, and raises every proposed contrast to that
//   noise; the workbench takes the smallest low over all levels as they come;
// - the workbench's ratio is any value (its toolbar offers 0.25, 0.375 and 0.5); the library's
//   mode picks one of those three.
// The contour bound is the library's own: the workbench calls find_sub_pix_contours_c.
#ifndef TESSOLIN_CONTRAST_ESTIMATE_H
#define TESSOLIN_CONTRAST_ESTIMATE_H

#include <opencv2/core.hpp>

namespace tessolin {

// Images with a side above this are not analysed.
inline constexpr int kMaxContrastSide = 2048;
// Weak threshold as a share of the strong one.
inline constexpr double kContrastLowFactor = 0.75;

struct LevelContrast {
    double low;
    double high;
    double min_contrast;
};

struct ContrastEstimate {
    bool analysed = false;  // false: nothing below is meaningful, the spinners stay as they are
    double low = 0.0;
    double high = 0.0;
    double min_contrast = 0.0;
    double component_size = 0.0;  // MinCompSize, at least 5 once the contours were checked
    int levels = 0;
    LevelContrast level0{};  // the full-resolution level's own thresholds (the contour check's)
};

// Stretches a one-channel image linearly from its [min, max] to [0, 255] into 8 bits (rounded);
// all 0 when min == max. A multi-channel input throws cv::Exception ("src1c.channels() == 1").
cv::Mat to8U_AutoContrast_MinMax(const cv::Mat& src1c);

// One pyramid level (8-bit): high is the smallest gradient magnitude (|Sobel| / 4, saturated to
// 8 bits) among the pixels whose stretched magnitude exceeds ratio * 255, low = low_factor * high,
// min_contrast = min(low, max(3, 1.645 * residual sd over the weak pixels, noise)). {1, 2, 1} when
// no pixel is strong. Requires both sides >= 3; throws cv::Exception for a multi-channel level.
LevelContrast EstimateLevelContrast(const cv::Mat& level, double low_factor, double ratio);

// floor(max(0, log2(min(cols, rows) / 8))) + 1.
int ContrastLevelCount(int cols, int rows);
// 2^(levels - 1) up to 4 levels, 4 * levels - 8 above.
double ComponentSizeCandidate(int levels);

// The pyramid part of the estimate: not analysed for an empty image, a side below 3 or above
// kMaxContrastSide. Otherwise low and high are those of the first level with the smallest low,
// min_contrast the smallest over the levels, component_size the candidate for the level count
// (not yet checked against the image's contours). Throws cv::Exception for a multi-channel or
// non-8-bit image.
ContrastEstimate EstimatePyramidContrast(const cv::Mat& image, double ratio);

// The whole estimate: the pyramid part, then the component size limited to half the largest
// contour diameter that the chain detector finds with level 0's thresholds, and raised to 5.
ContrastEstimate EstimateContrastParams(const cv::Mat& image, double ratio);

}  // namespace tessolin

#endif  // TESSOLIN_CONTRAST_ESTIMATE_H
