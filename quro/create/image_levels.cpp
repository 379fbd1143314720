#include "quro/create/image_levels.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "quro/edges/subpix_edges.h"
#include "quro/numeric.h"
#include "quro/status.h"

namespace quro {
namespace {

constexpr int kMaxLevels = 10;
constexpr std::size_t kMinLevelPoints = 20;

// Folds an angle of [-270, 270] degrees (the box rule produces [-270, 180]) into [-90, 90].
double fold_half_turn(double deg) {
    if (deg < -90.0) deg += 180.0;
    if (deg < -90.0) deg += 180.0;
    if (deg > 90.0) deg -= 180.0;
    return deg;
}

// The size stop of automatic level counts: a level too small to carry a useful model.
bool too_small_for_a_level(int cols, int rows) {
    return cols < 8 || rows < 8 || (cols < 12 && rows < 12);
}

}  // namespace

std::vector<int> level_min_lengths(int min_component_size, int levels) {
    std::vector<int> len(static_cast<std::size_t>(std::max(levels, 0)));
    for (std::size_t k = 0; k < len.size(); ++k) {
        if (k == 0) {
            len[k] = std::clamp(min_component_size, 1, 128);
        } else {
            len[k] = len[k - 1] / 2;
            if (len[k] < 3) len[k] = 2;
        }
    }
    return len;
}

float box_angle_of_corners(const cv::Point2f (&p)[4]) {
    const cv::Point2f a = p[0] - p[1];
    const cv::Point2f b = p[1] - p[2];
    const float la = std::sqrt(a.x * a.x + a.y * a.y);
    const float lb = std::sqrt(b.x * b.x + b.y * b.y);
    const cv::Point2f side = la > lb ? a : b;
    // The column difference is the first argument: the angle is measured from the row axis.
    const double raw =
        std::atan2(static_cast<double>(side.x), static_cast<double>(side.y)) * 180.0 / kPi - 90.0;
    const double theta0 = fold_half_turn(raw);
    const double theta1 = fold_half_turn(raw + 90.0);
    return static_cast<float>(std::fabs(theta1) < std::fabs(theta0) ? theta1 : theta0);
}

std::vector<Feature> centre_and_measure(const std::vector<EdgePoint>& points, int cols, int rows,
                                        LevelBox& box) {
    const float cx = static_cast<float>(cols - 1) * 0.5f;
    const float cy = static_cast<float>(rows - 1) * 0.5f;
    std::vector<Feature> features;
    features.reserve(points.size());
    std::vector<cv::Point2f> positions;
    positions.reserve(points.size());
    float radius = 0.f;
    for (const EdgePoint& e : points) {
        const float x = e.x - cx;
        const float y = e.y - cy;
        features.emplace_back(x, y, e.nx, e.ny);
        positions.emplace_back(x, y);
        radius = std::max(radius, std::sqrt(x * x + y * y));
    }

    cv::Point2f corners[4];
    cv::minAreaRect(positions).points(corners);
    const float angle = box_angle_of_corners(corners);

    const float r = -angle * kDegToRad;
    const float c = std::cos(r);
    const float s = std::sin(r);
    box.min_x = static_cast<float>(cols);
    box.max_x = static_cast<float>(-cols);
    box.min_y = static_cast<float>(rows);
    box.max_y = static_cast<float>(-rows);
    for (const cv::Point2f& q : corners) {
        const float X = q.x * c + q.y * s;
        const float Y = q.y * c - q.x * s;
        box.min_x = std::min(box.min_x, X);
        box.max_x = std::max(box.max_x, X);
        box.min_y = std::min(box.min_y, Y);
        box.max_y = std::max(box.max_y, Y);
    }
    box.width = cols;
    box.height = rows;
    box.radius = radius;
    box.angle = angle;
    return features;
}

int build_shape_model_levels(const cv::Mat& image, const cv::Mat& mask, int num_levels,
                             const ContrastParams& contrast, ShapeModelRecord& record,
                             const Deadline& deadline) {
    if (image.empty() || image.type() != CV_8UC1 || !image.isContinuous()) return kFailed;
    if (!mask.empty() &&
        (mask.type() != CV_8UC1 || mask.size() != image.size() || !mask.isContinuous()))
        return kFailed;

    const bool size_stop = num_levels == 0;
    const int levels = num_levels >= 1 && num_levels <= kMaxLevels ? num_levels : kMaxLevels;
    const std::vector<int> min_len = level_min_lengths(contrast.min_component_size, levels);
    constexpr int kWindow = 1;  // every chain point is kept on every level

    float low = static_cast<float>(contrast.contrast_low);
    float high = static_cast<float>(contrast.contrast_high);
    if (contrast.contrast_low < 1) {
        low = 1.f;
        high = 2.f;
    }

    cv::Mat level_image = image;
    cv::Mat level_mask = mask;
    std::vector<EdgePoint> points;
    for (int k = 0; k < levels; ++k) {
        if (k > 0) {
            cv::Mat next;
            cv::pyrDown(level_image, next);  // ((cols+1)/2, (rows+1)/2), reflect-101 border
            level_image = next;
            if (!level_mask.empty()) {
                cv::Mat next_mask;
                cv::pyrDown(level_mask, next_mask);
                level_mask = next_mask;
            }
        }
        const int cols = level_image.cols;
        const int rows = level_image.rows;
        if (size_stop && too_small_for_a_level(cols, rows)) break;

        points.clear();
        const int rc = edges_sub_pix_gray_impl(
            level_image.data, cols, rows, 0, low, high, min_len[static_cast<std::size_t>(k)],
            kWindow, &points, level_mask.empty() ? nullptr : level_mask.data);
        if (rc != 0) return rc;
        if (points.size() < kMinLevelPoints) break;

        LevelBox box;
        std::vector<Feature> features = centre_and_measure(points, cols, rows, box);
        append_model_level(record, std::move(features), box);

        if (deadline.passed()) return kTimedOut;
    }
    return close_model_levels(record);
}

}  // namespace quro
