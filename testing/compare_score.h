// Scoring of the search comparison benchmark: detections are paired with the true poses of a
// scene and counted as found or false, with their position and angle errors.
#ifndef QURO_TESTING_COMPARE_SCORE_H
#define QURO_TESTING_COMPARE_SCORE_H

#include <algorithm>
#include <cmath>
#include <vector>

#include "quro/numeric.h"
#include "testing/compare_scenes.h"

namespace compare {

// One found instance: reference point (x = column), angle in degrees, the method's own score,
// and its scales (1 for methods that do not search scales): rows, then columns (negative: the
// row scale).
struct Detection {
    double x;
    double y;
    double angle;
    double score;
    double scale = 1.0;
    double scale_col = -1.0;
    int model = 0;  // the model it was found with, in scenes of several models
};

// A detection is correct when it lies within kPosTol pixels and kAngleTol degrees of a true
// instance of its model that no better-scoring detection has claimed yet. Every other detection is a false
// positive.
inline constexpr double kPosTol = 3.0;
inline constexpr double kAngleTol = 3.0;

struct Accuracy {
    int instances = 0;
    int found = 0;
    int false_positives = 0;
    int wrong_angle = 0;  // false positives within kPosTol of a true instance (e.g. flipped)
    double sum_sq_pos = 0, max_pos = 0;
    double sum_sq_angle = 0, max_angle = 0;
    double sum_sq_scale = 0, max_scale = 0;  // |detected - true scale| (the row scale)
    double sum_sq_scale_col = 0, max_scale_col = 0;  // the same of the column scale

    double recall() const { return instances ? static_cast<double>(found) / instances : 0.0; }
    double rms_pos() const { return found ? std::sqrt(sum_sq_pos / found) : 0.0; }
    double rms_angle() const { return found ? std::sqrt(sum_sq_angle / found) : 0.0; }
    double rms_scale() const { return found ? std::sqrt(sum_sq_scale / found) : 0.0; }
    double rms_scale_col() const { return found ? std::sqrt(sum_sq_scale_col / found) : 0.0; }
};

inline double angle_difference(double a, double b) {
    return std::fabs(static_cast<double>(quro::wrap_angle_180(static_cast<float>(a - b))));
}

// Pairs the detections of one scene with its true poses, best score first. Returns which true
// instances were found.
inline std::vector<bool> score_scene(const std::vector<Pose>& truth, std::vector<Detection> dets,
                                     Accuracy& acc) {
    std::stable_sort(dets.begin(), dets.end(),
                     [](const Detection& a, const Detection& b) { return a.score > b.score; });
    std::vector<bool> claimed(truth.size(), false);
    acc.instances += static_cast<int>(truth.size());
    for (const Detection& d : dets) {
        int best = -1;
        double best_dist = kPosTol;
        bool near_truth = false;
        for (std::size_t i = 0; i < truth.size(); ++i) {
            if (truth[i].model != d.model) continue;
            const double dist = std::hypot(d.x - truth[i].x, d.y - truth[i].y);
            if (dist > kPosTol) continue;
            if (angle_difference(d.angle, truth[i].angle) > kAngleTol) {
                near_truth = true;
                continue;
            }
            if (claimed[i]) continue;
            if (dist <= best_dist) {
                best = static_cast<int>(i);
                best_dist = dist;
            }
        }
        if (best < 0) {
            ++acc.false_positives;
            if (near_truth) ++acc.wrong_angle;
            continue;
        }
        claimed[static_cast<std::size_t>(best)] = true;
        const double da = angle_difference(d.angle, truth[static_cast<std::size_t>(best)].angle);
        ++acc.found;
        acc.sum_sq_pos += best_dist * best_dist;
        acc.max_pos = std::max(acc.max_pos, best_dist);
        acc.sum_sq_angle += da * da;
        acc.max_angle = std::max(acc.max_angle, da);
        const double ds = std::fabs(d.scale - truth[static_cast<std::size_t>(best)].scale);
        acc.sum_sq_scale += ds * ds;
        acc.max_scale = std::max(acc.max_scale, ds);
        const double dc = std::fabs((d.scale_col < 0 ? d.scale : d.scale_col) -
                                    truth[static_cast<std::size_t>(best)].scale_col);
        acc.sum_sq_scale_col += dc * dc;
        acc.max_scale_col = std::max(acc.max_scale_col, dc);
    }
    return claimed;
}

// Keeps the best-scoring detections, dropping any closer than `min_distance` to a better one,
// at most `limit` of them.
inline std::vector<Detection> suppress_neighbours(std::vector<Detection> dets, double min_distance,
                                                  int limit) {
    std::stable_sort(dets.begin(), dets.end(),
                     [](const Detection& a, const Detection& b) { return a.score > b.score; });
    std::vector<Detection> kept;
    for (const Detection& d : dets) {
        if (static_cast<int>(kept.size()) >= limit) break;
        bool alone = true;
        for (const Detection& k : kept)
            alone = alone && std::hypot(d.x - k.x, d.y - k.y) >= min_distance;
        if (alone) kept.push_back(d);
    }
    return kept;
}

inline double median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

}  // namespace compare

#endif  // QURO_TESTING_COMPARE_SCORE_H
