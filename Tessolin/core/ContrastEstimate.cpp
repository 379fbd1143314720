#include "core/ContrastEstimate.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <opencv2/imgproc.hpp>

#include "quro/quro.h"

namespace tessolin {
namespace {

// sqrt(pi / 2): turns the mean absolute response of the noise kernel into a standard deviation.
constexpr double kSqrtHalfPi = 1.2533141373155001;
// One-sided 95 % quantile of the normal distribution.
constexpr double kResidualQuantile = 1.645;
constexpr double kMinNoiseContrast = 3.0;
// The 3x3 filters need this many pixels per side.
constexpr int kMinContrastSide = 3;

// Noise level of an image: the mean absolute response of the Laplacian-difference kernel, scaled
// to a standard deviation and rounded up. The responses (at most 8 * 255 in size) fit 16 bits.
double NoiseContrast(const cv::Mat& level) {
    static const cv::Mat kernel = (cv::Mat_<float>(3, 3) << 1, -2, 1, -2, 4, -2, 1, -2, 1);
    cv::Mat response;
    cv::filter2D(level, response, CV_16S, kernel, cv::Point(-1, -1), 0, cv::BORDER_REFLECT_101);
    const double m = cv::norm(response, cv::NORM_L1) / double(response.total());
    return std::ceil(kSqrtHalfPi * m / 6.0);
}

// Standard deviation of level - (its 3x3 box mean) over the pixels where weak is set, 0 without
// one. Summed exactly in integers as 9 * residual = 9 * level - (3x3 box sum).
double WeakResidualSd(const cv::Mat& level, const cv::Mat& weak) {
    cv::Mat box_sum;
    cv::boxFilter(level, box_sum, CV_16S, cv::Size(3, 3), cv::Point(-1, -1), false,
                  cv::BORDER_REFLECT_101);
    long long n = 0, sum = 0, sum_sq = 0;
    for (int y = 0; y < level.rows; ++y) {
        const uchar* v = level.ptr<uchar>(y);
        const short* b = box_sum.ptr<short>(y);
        const uchar* w = weak.ptr<uchar>(y);
        for (int x = 0; x < level.cols; ++x) {
            const long long r9 = w[x] ? 9 * v[x] - b[x] : 0;
            n += w[x] != 0;
            sum += r9;
            sum_sq += r9 * r9;
        }
    }
    if (n == 0) return 0.0;
    const double mean = double(sum) / double(n);
    return std::sqrt(std::max(0.0, double(sum_sq) / double(n) - mean * mean)) / 9.0;
}

// int(|(gx, gy)| / 4 + 0.5) from 16-bit Sobel derivatives, saturated to 8 bits (the largest
// magnitude, about 360, must not wrap). Any channel count: the channels are kept interleaved.
cv::Mat GradientMagnitude8U(const cv::Mat& level) {
    cv::Mat gx, gy;
    cv::Sobel(level, gx, CV_16S, 1, 0, 3, 1.0, 0.0, cv::BORDER_REFLECT_101);
    cv::Sobel(level, gy, CV_16S, 0, 1, 3, 1.0, 0.0, cv::BORDER_REFLECT_101);
    cv::Mat g(level.size(), CV_MAKETYPE(CV_8U, level.channels()));
    const int n = level.cols * level.channels();
    for (int y = 0; y < level.rows; ++y) {
        const short* px = gx.ptr<short>(y);
        const short* py = gy.ptr<short>(y);
        uchar* out = g.ptr<uchar>(y);
        for (int x = 0; x < n; ++x) {
            const float sq = float(px[x]) * float(px[x]) + float(py[x]) * float(py[x]);
            const int v = static_cast<int>(std::sqrt(sq) * 0.25f + 0.5f);
            out[x] = static_cast<uchar>(std::min(v, 255));
        }
    }
    return g;
}

}  // namespace

cv::Mat to8U_AutoContrast_MinMax(const cv::Mat& src1c) {
    CV_Assert(src1c.channels() == 1);
    double lo = 0.0, hi = 0.0;
    cv::minMaxLoc(src1c, &lo, &hi);
    cv::Mat dst;
    if (lo < hi) {
        const double scale = 255.0 / (hi - lo);
        src1c.convertTo(dst, CV_8U, scale, -lo * scale);
    } else {
        dst = cv::Mat::zeros(src1c.size(), CV_8UC1);
    }
    return dst;
}

LevelContrast EstimateLevelContrast(const cv::Mat& level, double low_factor, double ratio) {
    const double noise = NoiseContrast(level);
    const cv::Mat g = GradientMagnitude8U(level);
    // No further pass over the magnitude (such as thinning to the maxima along the gradient):
    // the smallest strong magnitude then lies on an edge flank, which keeps the proposal
    // permissive.
    const cv::Mat stretched = to8U_AutoContrast_MinMax(g);

    // Both images hold integers, so "> t" is "> floor(t)" and "<= t" is "<= floor(t)".
    cv::Mat strong;
    cv::compare(stretched, std::floor(ratio * 255.0), strong, cv::CMP_GT);
    if (cv::countNonZero(strong) == 0) return {1.0, 2.0, 1.0};
    double high = 0.0;
    cv::minMaxLoc(g, &high, nullptr, nullptr, nullptr, strong);
    const double low = low_factor * high;

    cv::Mat weak;
    cv::compare(g, std::floor(low), weak, cv::CMP_LE);
    const double spread = kResidualQuantile * WeakResidualSd(level, weak);
    return {low, high, std::min(low, std::max({kMinNoiseContrast, spread, noise}))};
}

int ContrastLevelCount(int cols, int rows) {
    const double side = double(std::min(cols, rows));
    return static_cast<int>(std::floor(std::max(0.0, std::log2(side * 0.125)))) + 1;
}

double ComponentSizeCandidate(int levels) {
    return levels <= 4 ? std::ldexp(1.0, levels - 1) : 4.0 * levels - 8.0;
}

ContrastEstimate EstimatePyramidContrast(const cv::Mat& image, double ratio) {
    ContrastEstimate e;
    if (image.empty() || image.cols < kMinContrastSide || image.rows < kMinContrastSide ||
        image.cols > kMaxContrastSide || image.rows > kMaxContrastSide)
        return e;
    CV_Assert(image.depth() == CV_8U);
    e.levels = ContrastLevelCount(image.cols, image.rows);
    cv::Mat level = image;
    for (int i = 0; i < e.levels; ++i) {
        if (i > 0) {
            cv::Mat down;
            cv::pyrDown(level, down, cv::Size(), cv::BORDER_REFLECT_101);
            level = down;
        }
        const LevelContrast c = EstimateLevelContrast(level, kContrastLowFactor, ratio);
        if (i == 0) {
            e.level0 = c;
            e.low = c.low;
            e.high = c.high;
            e.min_contrast = c.min_contrast;
            continue;
        }
        if (c.low < e.low) {
            e.low = c.low;
            e.high = c.high;
        }
        e.min_contrast = std::min(e.min_contrast, c.min_contrast);
    }
    e.component_size = ComponentSizeCandidate(e.levels);
    e.analysed = true;
    return e;
}

ContrastEstimate EstimateContrastParams(const cv::Mat& image, double ratio) {
    ContrastEstimate e = EstimatePyramidContrast(image, ratio);
    if (!e.analysed) return e;
    // The detector reads rows back to back: a view into a larger image is copied first.
    const cv::Mat data = image.isContinuous() ? image : image.clone();
    quro::Contour* contours = nullptr;
    int count = 0;
    const int handle =
        find_sub_pix_contours_c(data.data, data.cols, data.rows, 0.0f, float(e.level0.low),
                                float(e.level0.high), &contours, &count, nullptr);
    if (handle > 0) {
        double largest = std::numeric_limits<double>::min();
        for (int i = 0; i < count; ++i) largest = std::max(largest, contours[i].diameter);
        e.component_size = std::min(e.component_size, largest / 2.0);
        clear_mems(handle);
    }
    e.component_size = std::max(5.0, e.component_size);
    return e;
}

}  // namespace tessolin
