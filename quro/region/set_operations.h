// The set operations as the other region operators call them (hole filling, morphology): the same
// work as union2_y, difference_y and intersection_y, without going through the exported symbols.
#ifndef QURO_REGION_SET_OPERATIONS_H
#define QURO_REGION_SET_OPERATIONS_H

#include "quro/quro.h"

namespace quro {

void union2_y_impl(const region& a, const region& b, region* out);
void difference_y_impl(const region& a, const region& b, region* out);
void intersection_y_impl(const region& a, const region& b, region* out);

}  // namespace quro

#endif  // QURO_REGION_SET_OPERATIONS_H
