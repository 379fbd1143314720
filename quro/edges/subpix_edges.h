// Hidden entry points of the filter-based sub-pixel edge exports, for other exports (model
// creation) that need them. Contracts as in quro/quro.h.
#ifndef QURO_EDGES_SUBPIX_EDGES_H
#define QURO_EDGES_SUBPIX_EDGES_H

#include <vector>

#include "quro/quro.h"

namespace quro {

int edges_sub_pix_gray_impl(const unsigned char* image, int width, int height, int blur_size,
                            float low, float high, int min_length, int window,
                            std::vector<EdgePoint>* out, const unsigned char* mask);

int find_sub_pix_contours_impl(const unsigned char* image, int width, int height, int blur_size,
                               int margin, float low, float high, int min_length,
                               std::vector<std::vector<EdgePoint>>* out, const unsigned char* mask);

}  // namespace quro

#endif  // QURO_EDGES_SUBPIX_EDGES_H
