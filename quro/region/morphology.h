// Erosion and dilation as the operators built on them call them (opening, closing, hit-or-miss,
// the hats, boundaries), without going through the exported symbols.
#ifndef QURO_REGION_MORPHOLOGY_H
#define QURO_REGION_MORPHOLOGY_H

#include <vector>

#include "quro/quro.h"

namespace quro {

// One run of a region as a value, for the small regions the operators build (elements, boxes).
struct Run {
    int row, begin, end;
};

// out's runs become `runs` (taken as given: sorted by row, then column); nothing else changes.
void write_runs(region& out, const std::vector<Run>& runs);

// Whether se can serve as a structuring element (not split, runs held). When it can and ref_col
// or ref_row is -1, both become the centre of its bounding box: row1 + (row2 - row1 + 1) / 2, and
// likewise for the columns.
bool resolve_reference(const region& se, int& ref_col, int& ref_row);

// erosion2_y and dilation2_y with a reference already resolved (a -1 here is a coordinate, never
// the box centre again: a centre may be -1): out = the pixels p with p + s - ref in `in` for
// every pixel s of se, or the pixels p + s - ref for p in `in`. A null out, a split input or an
// unusable element leave out unchanged; an input without runs gives an empty result. out takes in's
// width and height and may be, or share arrays with, in or se.
void erosion_impl(const region& in, const region& se, region* out, int ref_col, int ref_row);
void dilation_impl(const region& in, const region& se, region* out, int ref_col, int ref_row);

}  // namespace quro

#endif  // QURO_REGION_MORPHOLOGY_H
