// The two per-level statistics of the automatic contrast proposal: noise from a second-derivative
// kernel, the gradient magnitude's split by Otsu's method or by the strongest suppressed edges,
// and the spread of the local contrast among the weak pixels.
#include "quro/create/level_statistics.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <opencv2/imgproc.hpp>

#include "quro/edges/sobel_magnitude.h"
#include "quro/parallel.h"

namespace quro {
namespace {

// 1.645: the one-sided 95% quantile of the normal distribution.
constexpr double kSpreadQuantile = 1.645;
// sqrt(pi / 2): mean absolute value of a normal variable to its standard deviation.
constexpr double kAbsToSigma = 1.2533141373155001;
// Sector bounds of the suppression, tan 22.5 and tan 67.5 degrees in units of 2^-15.
constexpr std::int64_t kTan22 = 13573;
constexpr std::int64_t kTan67 = 79109;
// Rows per parallel run of the per-pixel loops.
constexpr RangeCut kRowRuns{.serial_below = 64, .grain = 32};

// Runs row(y) for every y in [first, end), rows in parallel.
template <class Row>
void for_rows(int first, int end, const Row& row) {
    if (end <= first) return;
    parallel_for_ranges(static_cast<std::size_t>(end - first), kRowRuns,
                        [&](std::size_t begin, std::size_t stop) {
                            for (std::size_t i = begin; i < stop; ++i)
                                row(first + static_cast<int>(i));
                        });
}

// Standard deviation, over the pixels whose 8-bit magnitude is at most `bound`, of the image
// minus its 3x3 box mean (single precision); 0 when no pixel is that weak.
double weak_contrast_spread(const cv::Mat& level, const cv::Mat& magnitude, double bound) {
    cv::Mat f, mean, weak;
    level.convertTo(f, CV_32F);
    cv::blur(f, mean, cv::Size(3, 3));
    f -= mean;
    cv::compare(magnitude, cv::Scalar(bound), weak, cv::CMP_LE);
    if (cv::countNonZero(weak) == 0) return 0.0;
    cv::Scalar m, s;
    cv::meanStdDev(f, m, s, weak);
    return s[0];
}

LevelContrast contrast_from(double t, double weak_factor, double spread, double noise) {
    const double low = t * weak_factor;
    return {low, t, std::min(low, std::max(3.0, std::max(spread, noise)))};
}

}  // namespace

double noise_level(const cv::Mat& level) {
    const cv::Mat kernel = (cv::Mat_<float>(3, 3) << 1, -2, 1, -2, 4, -2, 1, -2, 1);
    cv::Mat response;
    cv::filter2D(level, response, CV_32F, kernel);
    const double m = cv::norm(response, cv::NORM_L1) / static_cast<double>(response.total());
    return std::ceil(kAbsToSigma * m / 6.0);
}

cv::Mat sobel_magnitude_u8(const cv::Mat& level) {
    cv::Mat dx, dy, magnitude, out;
    cv::Sobel(level, dx, CV_32F, 1, 0, 3, 0.25);
    cv::Sobel(level, dy, CV_32F, 0, 1, 3, 0.25);
    cv::magnitude(dx, dy, magnitude);
    magnitude.convertTo(out, CV_8U);  // saturating
    return out;
}

cv::Mat sobel_magnitude_u8_replicated(const cv::Mat& level, cv::Mat& dx, cv::Mat& dy) {
    cv::Sobel(level, dx, CV_16S, 1, 0, 3, 1, 0, cv::BORDER_REPLICATE);
    cv::Sobel(level, dy, CV_16S, 0, 1, 3, 1, 0, cv::BORDER_REPLICATE);
    cv::Mat out(level.size(), CV_8U);
    for_rows(0, level.rows, [&](int y) {
        const std::int16_t* gx = dx.ptr<std::int16_t>(y);
        const std::int16_t* gy = dy.ptr<std::int16_t>(y);
        std::uint8_t* o = out.ptr<std::uint8_t>(y);
        for (int x = 0; x < level.cols; ++x) {
            const int m =
                static_cast<int>(magnitude_from_square(gx[x] * gx[x] + gy[x] * gy[x]) + 0.5f);
            o[x] = static_cast<std::uint8_t>(std::min(m, 255));
        }
    });
    return out;
}

LevelContrast otsu_level_contrast(const cv::Mat& level, double weak_factor) {
    const cv::Mat magnitude = sobel_magnitude_u8(level);
    cv::Mat binary;
    const double t = cv::threshold(magnitude, binary, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
    const double spread = weak_contrast_spread(level, magnitude, t * weak_factor);
    return contrast_from(t, weak_factor, std::floor(kSpreadQuantile * spread), noise_level(level));
}

cv::Mat suppress_non_maxima(const cv::Mat& magnitude, const cv::Mat& dx, const cv::Mat& dy) {
    cv::Mat out(magnitude.size(), CV_8U, cv::Scalar(0));
    for_rows(1, magnitude.rows - 1, [&](int y) {
        const std::uint8_t* up = magnitude.ptr<std::uint8_t>(y - 1);
        const std::uint8_t* mid = magnitude.ptr<std::uint8_t>(y);
        const std::uint8_t* down = magnitude.ptr<std::uint8_t>(y + 1);
        const std::int16_t* gx = dx.ptr<std::int16_t>(y);
        const std::int16_t* gy = dy.ptr<std::int16_t>(y);
        std::uint8_t* o = out.ptr<std::uint8_t>(y);
        for (int x = 1; x + 1 < magnitude.cols; ++x) {
            const int m = mid[x];
            const std::int64_t ax = std::abs(static_cast<int>(gx[x]));
            const std::int64_t ay = std::abs(static_cast<int>(gy[x])) * (std::int64_t{1} << 15);
            bool keep;
            if (ay < ax * kTan22) {
                keep = m > mid[x - 1] && m >= mid[x + 1];
            } else if (ay > ax * kTan67) {
                keep = m > up[x] && m >= down[x];
            } else {
                // Along the diagonal the gradient points to: down-right when dx and dy share
                // their sign, down-left otherwise.
                const int s = (gx[x] < 0) != (gy[x] < 0) ? -1 : 1;
                keep = m > up[x - s] && m >= down[x + s];
            }
            if (keep) o[x] = static_cast<std::uint8_t>(m);
        }
    });
    return out;
}

LevelContrast nms_level_contrast(const cv::Mat& level, double weak_factor, double fraction) {
    cv::Mat dx, dy;
    const cv::Mat magnitude = sobel_magnitude_u8_replicated(level, dx, dy);
    const cv::Mat suppressed = suppress_non_maxima(magnitude, dx, dy);
    double lo = 0, hi = 0;
    cv::minMaxLoc(suppressed, &lo, &hi);
    if (hi <= lo) return {1, 2, 1};  // the stretched image is all 0: nothing passes
    cv::Mat stretched, passing;
    const double scale = 255.0 / (hi - lo);
    suppressed.convertTo(stretched, CV_8U, scale, -lo * scale);
    cv::threshold(stretched, passing, fraction * 255.0, 255, cv::THRESH_BINARY);
    if (cv::countNonZero(passing) == 0) return {1, 2, 1};
    double t = 0;
    cv::minMaxLoc(suppressed, &t, nullptr, nullptr, nullptr, passing);
    const double spread = weak_contrast_spread(level, magnitude, t * weak_factor);
    return contrast_from(t, weak_factor, kSpreadQuantile * spread, noise_level(level));
}

}  // namespace quro
