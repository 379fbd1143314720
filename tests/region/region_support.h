// Region test support shared by this folder: the runs a region holds, regions made from runs or
// chord lists, and random blob regions placed anywhere (negative coordinates included).
#ifndef QURO_TESTS_REGION_REGION_SUPPORT_H
#define QURO_TESTS_REGION_REGION_SUPPORT_H

#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "testing/region_masks.h"

namespace quro_test {

// The runs held, never the chords (gen_region_runs leaves chords behind).
inline Runs held(const quro::region& r) {
    const auto v = [&](const int* p) { return std::vector<int>(p, p + r.num_runs); };
    return {v(r.rows), v(r.col_begins), v(r.col_ends)};
}

inline quro::region make(const Runs& r) {
    quro::region out;
    if (!r.rows.empty()) gen_region_runs(&out, r.rows, r.begins, r.ends);
    return out;
}

// A chord list (a structuring element) as a region: its chords copied into the run arrays.
inline quro::region element_region(const std::vector<quro::chord>& se) {
    Runs r;
    for (const quro::chord& c : se)
        r.rows.push_back(c.row), r.begins.push_back(c.col_begin), r.ends.push_back(c.col_end);
    return make(r);
}

// Blurred noise thresholded at a random grey range, every run moved by (dx, dy).
inline quro::region blobs(cv::RNG& rng, int dx, int dy) {
    cv::Mat img(rng.uniform(1, 60), rng.uniform(1, 70), CV_8UC1);
    rng.fill(img, cv::RNG::UNIFORM, 0, 256);
    cv::GaussianBlur(img, img, {0, 0}, rng.uniform(1.0, 4.0));
    cv::normalize(img, img, 0, 255, cv::NORM_MINMAX);
    const int lo = rng.uniform(0, 200);
    quro::region r;
    threshold_y(img.data, img.cols, img.rows, lo, lo + rng.uniform(0, 120), &r);
    for (int i = 0; i < r.num_runs; ++i) r.rows[i] += dy, r.col_begins[i] += dx, r.col_ends[i] += dx;
    return r;
}

}  // namespace quro_test

#endif  // QURO_TESTS_REGION_REGION_SUPPORT_H
