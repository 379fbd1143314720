// Per-level gradient and noise statistics behind the automatic contrast proposal
// (auto_shape_model_params and auto_shape_model_params2): each measures one 8-bit pyramid level
// and proposes a low and a high hysteresis contrast and a minimum search contrast for it.
#ifndef QURO_CREATE_LEVEL_STATISTICS_H
#define QURO_CREATE_LEVEL_STATISTICS_H

#include <opencv2/core.hpp>

namespace quro {

// The proposal of one level: hysteresis contrasts and minimum search contrast.
struct LevelContrast {
    double low;
    double high;
    double min_contrast;
};

// Noise of an 8-bit image: the mean absolute response m of the 3x3 kernel
// (1 -2 1; -2 4 -2; 1 -2 1) over all pixels (single precision, mirrored border without repeating
// the edge pixel), turned into ceil(1.2533141373155001 * m / 6). 0 for a constant image.
double noise_level(const cv::Mat& level);

// The 3x3 Sobel gradient magnitude sqrt(dx^2 + dy^2) * 0.25 of an 8-bit image, in 8 bits:
// rounded to nearest in single precision with a mirrored border (otsu_level_contrast), or
// computed from 16-bit sums with a replicated border and truncated after adding 0.5
// (nms_level_contrast). Magnitudes reach about 361 on steep diagonal edges; above 255 they
// saturate at 255.
cv::Mat sobel_magnitude_u8(const cv::Mat& level);
cv::Mat sobel_magnitude_u8_replicated(const cv::Mat& level, cv::Mat& dx, cv::Mat& dy);

// The first statistic: T = Otsu's threshold of the 8-bit magnitude; weak pixels are those whose
// magnitude is at most T * weak_factor; s = standard deviation, over the weak pixels, of the image
// minus its 3x3 box mean (0 without weak pixels); q = floor(1.645 s).
// Gives {T * weak_factor, T, min(T * weak_factor, max(3, q, noise_level))}.
LevelContrast otsu_level_contrast(const cv::Mat& level, double weak_factor);

// Non-maximum suppression of a magnitude image along the gradient (dx, dy; 16-bit) in four
// sectors split at tan 22.5 and tan 67.5 of |dy| / |dx|: an interior pixel keeps its magnitude
// when it exceeds its neighbour on the upper (left, for the horizontal sector) side and is not
// below the other; every other pixel is 0.
cv::Mat suppress_non_maxima(const cv::Mat& magnitude, const cv::Mat& dx, const cv::Mat& dy);

// The second statistic, with the fraction f (0.25, 0.375 or 0.5): the suppressed magnitudes are
// stretched to 0..255 between their minimum and maximum (all 0 when those are equal); T = the
// smallest suppressed magnitude among the pixels whose stretched value exceeds f * 255. Without
// such a pixel gives {1, 2, 1}; otherwise {T * weak_factor, T, min(T * weak_factor,
// max(3, 1.645 s, noise_level))} with s as in the first statistic, the weak pixels being those
// whose unsuppressed 8-bit magnitude is at most T * weak_factor.
LevelContrast nms_level_contrast(const cv::Mat& level, double weak_factor, double fraction);

}  // namespace quro

#endif  // QURO_CREATE_LEVEL_STATISTICS_H
