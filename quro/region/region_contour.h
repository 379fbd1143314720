// Point membership and contour tracing of a region, for the operators built on them.
#ifndef QURO_REGION_REGION_CONTOUR_H
#define QURO_REGION_REGION_CONTOUR_H

#include <cstdint>
#include <vector>

#include "quro/quro.h"

namespace quro {

// Whether pixel (col, row) lies in one of the first n runs of r. The row's runs are found by a
// binary search on the rows and scanned in column order until the first that ends at or after
// col, which decides. Exact for runs sorted by row, then first column; unsorted runs give some
// answer, never an access outside the n runs. Allocates nothing.
bool region_contains(const region& r, int n, std::int64_t col, std::int64_t row);

// Most contour pixels one call hands out (get_region_contour, boundary_y's "inner_filled" over all
// components): 2^23, 64 MB of coordinates.
inline constexpr std::int64_t kMaxContourPixels = std::int64_t{1} << 23;

// get_region_contour's work; a null vector is skipped. Appends at most `limit` pixels: a longer
// contour appends nothing and returns false (the trace stops as soon as it is known).
bool get_region_contour_impl(const region& r, std::vector<int>* cols, std::vector<int>* rows,
                             std::int64_t limit = kMaxContourPixels);

}  // namespace quro

#endif  // QURO_REGION_REGION_CONTOUR_H
