// Regions beside OpenCV masks, for the region tests and benchmarks: a region drawn onto a padded
// canvas (region pixel (col, row) lands on canvas pixel (col + offset.x, row + offset.y), so
// negative coordinates fit), the runs of a mask read back the same way, and the canonical-form
// check the set operators promise.
#ifndef QURO_TESTING_REGION_MASKS_H
#define QURO_TESTING_REGION_MASKS_H

#include <vector>

#include <opencv2/core.hpp>

#include "quro/quro.h"

namespace quro_test {

// A run list as three parallel vectors, as get_region_runs writes it.
struct Runs {
    std::vector<int> rows, begins, ends;
    bool operator==(const Runs&) const = default;
};

// The runs of a region (chords when it has no runs).
inline Runs region_runs(const quro::region& r) {
    Runs runs;
    get_region_runs(r, &runs.rows, &runs.begins, &runs.ends);
    return runs;
}

// The runs of the non-zero pixels of an 8-bit mask, row by row, shifted by -offset.
inline Runs mask_runs(const cv::Mat& mask, cv::Point offset = {0, 0}) {
    Runs runs;
    for (int y = 0; y < mask.rows; ++y) {
        const unsigned char* p = mask.ptr<unsigned char>(y);
        for (int x = 0; x < mask.cols; ++x) {
            if (p[x] == 0 || (x > 0 && p[x - 1] != 0)) continue;
            int e = x;
            while (e + 1 < mask.cols && p[e + 1] != 0) ++e;
            runs.rows.push_back(y - offset.y);
            runs.begins.push_back(x - offset.x);
            runs.ends.push_back(e - offset.x);
        }
    }
    return runs;
}

// A region holding the non-zero pixels of `mask`, shifted by -offset.
inline void mask_to_region(const cv::Mat& mask, quro::region* out, cv::Point offset = {0, 0}) {
    const Runs runs = mask_runs(mask, offset);
    out->num_runs = 0;
    if (!runs.rows.empty()) gen_region_runs(out, runs.rows, runs.begins, runs.ends);
}

// The region drawn (255) on a zero canvas of `size`, shifted by +offset. Pixels falling outside
// the canvas set *clipped (when given) and are dropped.
inline cv::Mat region_to_mask(const quro::region& r, cv::Size size, cv::Point offset = {0, 0},
                              bool* clipped = nullptr) {
    cv::Mat mask(size, CV_8UC1, cv::Scalar(0));
    const Runs runs = region_runs(r);
    for (std::size_t i = 0; i < runs.rows.size(); ++i) {
        const int y = runs.rows[i] + offset.y;
        for (int x = runs.begins[i] + offset.x; x <= runs.ends[i] + offset.x; ++x) {
            const bool inside = y >= 0 && y < size.height && x >= 0 && x < size.width;
            if (inside) mask.at<unsigned char>(y, x) = 255;
            if (!inside && clipped != nullptr) *clipped = true;
        }
    }
    return mask;
}

// Sorted by row, then first column; every run non-empty; runs of one row neither overlap nor touch.
inline bool is_canonical(const quro::region& r) {
    for (int i = 0; i < r.num_runs; ++i) {
        if (r.col_begins[i] > r.col_ends[i]) return false;
        if (i == 0) continue;
        if (r.rows[i] < r.rows[i - 1]) return false;
        if (r.rows[i] == r.rows[i - 1] &&
            static_cast<long long>(r.col_begins[i]) <= static_cast<long long>(r.col_ends[i - 1]) + 1)
            return false;
    }
    return true;
}

}  // namespace quro_test

#endif  // QURO_TESTING_REGION_MASKS_H
