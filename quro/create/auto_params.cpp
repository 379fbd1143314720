// Automatic creation parameters: the contrasts proposed by a per-level statistic on every level of
// the image's pyramid, and a minimum component size bounded by the pyramid depth and by the
// largest contour the chain detector finds with the full-resolution contrasts.
//
// The workbench's ratio buttons (Tessolin/core/ContrastEstimate.cpp) propose on the same skeleton
// as auto_shape_model_params2 but with a statistic of their own: they stretch the magnitude
// without thinning it to its maxima (a more permissive high), take the smallest low over all
// levels without the participation rule and the noise floor below, and accept any ratio, not
// only the three of `mode`. An export cannot take that statistic, and the program sees only
// quro/quro.h, so the two stay separate.
#include <tbb/parallel_invoke.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <optional>
#include <vector>

#include "quro/create/level_statistics.h"
#include "quro/edges/chain_edges.h"
#include "quro/export_guard.h"
#include "quro/quro.h"
#include "quro/result_registry.h"

namespace quro {
namespace {

// The two flavours of the proposal: the pyramid depth factor and the level statistic.
struct AutoParamsFlavour {
    double level_factor;  // levels = floor(max(0, log2(min side * level_factor))) + 1
    bool otsu;            // the Otsu statistic, else the suppression statistic
    int mode;             // the suppression statistic's mode (-1, 1, anything else)
};

// A level whose shorter side is below kMinLevelSide pixels, or on which the largest contour of
// level 1 would shrink below kMinObjectDiameter pixels (a closed contour of about 25 edge points,
// near the 20 below which model creation stops adding levels), no longer holds the object.
constexpr int kMinLevelSide = 32;
constexpr double kMinObjectDiameter = 8.0;

double suppression_fraction(int mode) {
    if (mode == -1) return 0.25;
    if (mode == 1) return 0.5;
    return 0.375;
}

LevelContrast level_contrast(const cv::Mat& level, double weak_factor,
                             const AutoParamsFlavour& flavour) {
    if (flavour.otsu) return otsu_level_contrast(level, weak_factor);
    return nms_level_contrast(level, weak_factor, suppression_fraction(flavour.mode));
}

// The largest diameter of the chains found with thresholds low and high; nothing when the
// detector finds none or fails.
std::optional<double> largest_contour_diameter(const cv::Mat& image, double low, double high) {
    Contour* contours = nullptr;
    int count = 0;
    const int handle = find_sub_pix_contours_c_impl(
        image.data, image.cols, image.rows, 0.f, static_cast<float>(low), static_cast<float>(high),
        &contours, &count, nullptr);
    if (handle <= 0) return std::nullopt;
    double d = 2.2250738585072014e-308;
    for (int i = 0; i < count; ++i) d = std::max(d, contours[i].diameter);
    release_result(handle);
    return d;
}

// Writes the four proposed values to out; leaves it untouched for arguments that give none.
void propose(const unsigned char* image, int width, int height, double weak_factor, double* out,
             const AutoParamsFlavour& flavour) {
    if (image == nullptr || out == nullptr || width < 1 || height < 1 ||
        static_cast<long long>(width) * height > INT_MAX || !std::isfinite(weak_factor))
        return;
    const cv::Mat full(height, width, CV_8U, const_cast<unsigned char*>(image));
    const int levels =
        static_cast<int>(std::floor(std::max(
            0.0, std::log2(static_cast<double>(std::min(width, height)) * flavour.level_factor)))) +
        1;
    // Level 1 first: its contrasts drive the chain detector, which runs beside the other levels.
    const LevelContrast first = level_contrast(full, weak_factor, flavour);
    std::vector<LevelContrast> stats{first};
    std::vector<int> sides{std::min(width, height)};
    std::optional<double> diameter;
    double noise = 0.0;
    tbb::parallel_invoke([&] { diameter = largest_contour_diameter(full, first.low, first.high); },
                         [&] { noise = noise_level(full); },
                         [&] {
                             cv::Mat level = full;
                             for (int l = 1; l < levels; ++l) {
                                 cv::Mat next;
                                 cv::pyrDown(level, next, cv::Size(), cv::BORDER_REFLECT_101);
                                 level = next;
                                 stats.push_back(level_contrast(level, weak_factor, flavour));
                                 sides.push_back(std::min(level.cols, level.rows));
                             }
                         });
    // The first level with the smallest low gives both contrasts. Level 1 always takes part; a
    // further level only while it can still hold the object and its threshold stands above the
    // noise: on a large, mostly flat image the top levels have blurred a small object away, and
    // their thresholds fall to the noise or to 0.
    const auto takes_part = [&](std::size_t i) {
        const double object = diameter ? *diameter * std::ldexp(1.0, -static_cast<int>(i)) : 0.0;
        return i == 0 ||
               (sides[i] >= kMinLevelSide && object >= kMinObjectDiameter && stats[i].low >= noise);
    };
    std::size_t best = 0;
    double min_contrast = stats[0].min_contrast;
    for (std::size_t i = 1; i < stats.size(); ++i) {
        if (!takes_part(i)) continue;
        if (stats[i].low < stats[best].low) best = i;
        min_contrast = std::min(min_contrast, stats[i].min_contrast);
    }
    double size = levels > 4 ? 4.0 * levels - 8.0 : std::ldexp(1.0, levels - 1);
    if (diameter) size = std::min(size, *diameter * 0.5);
    // No contrast below the noise estimate.
    out[0] = std::max(stats[best].low, noise);
    out[1] = std::max(stats[best].high, noise);
    out[2] = std::max(5.0, size);
    out[3] = std::max(min_contrast, noise);
}

}  // namespace
}  // namespace quro

extern "C" QURO_API void auto_shape_model_params(const unsigned char* image, int width, int height,
                                                 double weak_factor, double* out) {
    quro::guarded_void([&] {
        quro::propose(image, width, height, weak_factor, out, {0.0625, true, 0});
    });
}

extern "C" QURO_API void auto_shape_model_params2(const unsigned char* image, int width, int height,
                                                  double weak_factor, double* out, int mode) {
    quro::guarded_void([&] {
        quro::propose(image, width, height, weak_factor, out, {0.125, false, mode});
    });
}
