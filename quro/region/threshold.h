// Thresholding with the marking kernel chosen by the caller (tests and benchmarks run each one);
// threshold_y runs it with KernelPath::automatic.
#ifndef QURO_REGION_THRESHOLD_H
#define QURO_REGION_THRESHOLD_H

#include "quro/cpu.h"
#include "quro/quro.h"

namespace quro {

// threshold_y on checked arguments: image not null, width and height >= 1.
void threshold_region(const unsigned char* image, int width, int height, int min_gray,
                      int max_gray, KernelPath path, region& out);

}  // namespace quro

#endif  // QURO_REGION_THRESHOLD_H
