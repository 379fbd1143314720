// Hidden entry point of the image creation export, for other creation exports that build a model
// from an image they prepared (a rotated cut-out), and for tests, whose creations and searches
// must not depend on the machine's speed: `timeout_ms` is the creation's time limit and the new
// model's "timeout" (1000 in the export; below 1: none). Contract otherwise as in quro/quro.h.
#ifndef QURO_CREATE_CREATE_FROM_IMAGE_H
#define QURO_CREATE_CREATE_FROM_IMAGE_H

#include "quro/quro.h"

namespace quro {

int create_shape_model_impl(const unsigned char* image, int width, int height, int num_levels,
                            float angle_start, float angle_extent, float angle_step, int metric,
                            const ContrastParams* contrast, const unsigned char* mask, int* id,
                            int timeout_ms = 1000);

}  // namespace quro

#endif  // QURO_CREATE_CREATE_FROM_IMAGE_H
