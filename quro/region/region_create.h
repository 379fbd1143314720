// Region creation from points, for the operators that gather pixels first (boundaries).
#ifndef QURO_REGION_REGION_CREATE_H
#define QURO_REGION_REGION_CREATE_H

#include <utility>
#include <vector>

#include "quro/quro.h"

namespace quro {

// Sorts the (row, column) points and appends to out's runs one run per stretch of consecutive
// columns of a row (a repeated point counts once), as gen_region_points does.
void append_point_runs(region& out, std::vector<std::pair<int, int>>& points);

}  // namespace quro

#endif  // QURO_REGION_REGION_CREATE_H
