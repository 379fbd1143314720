// Connected components of a region: the labelling pass over its runs, the split into parts, and
// the sort that puts runs gathered out of order back into row-then-column order.
#ifndef QURO_REGION_COMPONENTS_H
#define QURO_REGION_COMPONENTS_H

#include <vector>

#include "quro/quro.h"

namespace quro {

// Labels the runs r holds (num_runs, bounded by the capacity) by connected component: labels gets
// one entry per run, 1 .. count, and the count is returned (0 for no runs). Two runs on rows one
// apart touch when each ends at most `tolerance` columns before the other begins: 0 joins 4-
// and 1 joins 8-neighbours. Components are numbered in the raster order of their first pixel.
// Requires the runs sorted by row, then first column (overlapping runs are fine); unsorted runs
// give some labelling, never an access outside the runs or the labels. One pass: each row is
// compared with the row above by a two-pointer sweep over both.
int label_runs(const region& r, int tolerance, std::vector<int>& labels);

// Sorts the n runs of the three arrays in place by row, then first column, then last column, then
// position (so equal runs keep their order). Nothing for n < 2 or a null array.
void sort_y(int* rows, int* col_begins, int* col_ends, int n);

// connection_y's work, for the operators built on it.
int connection_y_impl(const region& in, region* out, int tolerance);

}  // namespace quro

#endif  // QURO_REGION_COMPONENTS_H
