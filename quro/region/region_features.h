// Region features as the other region operators call them: the bounding box and the cached
// shape features, without going through the exported symbols.
#ifndef QURO_REGION_REGION_FEATURES_H
#define QURO_REGION_REGION_FEATURES_H

#include "quro/quro.h"

namespace quro {

// The smallest and largest row and column over the runs r holds, whatever their order. False,
// with nothing written, for a region without runs.
bool run_bounds(const region& r, int& row1, int& col1, int& row2, int& col2);

// compute_feature_y's work on a region the caller has checked (not split, runs held).
void compute_features(region& r);

}  // namespace quro

#endif  // QURO_REGION_REGION_FEATURES_H
