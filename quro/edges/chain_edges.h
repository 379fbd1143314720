// The chain detector's contour export as a hidden function, for other exports that need the
// chains (exports never call each other's symbols).
#ifndef QURO_EDGES_CHAIN_EDGES_H
#define QURO_EDGES_CHAIN_EDGES_H

#include "quro/quro.h"

namespace quro {

// find_sub_pix_contours_c: same arguments, results, registration and return codes.
int find_sub_pix_contours_c_impl(const unsigned char* image, int width, int height, float sigma,
                                 float low, float high, Contour** out, int* count,
                                 const unsigned char* mask);

}  // namespace quro

#endif  // QURO_EDGES_CHAIN_EDGES_H
