// The pose kernel of the float outline transforms (uniform or row/column scales, stored
// directions): a scalar version (model_transforms.cpp) and an AVX2 version
// (pose_kernels_avx2.cpp) that give the same bits. Call the AVX2 one only when use_avx2()
// (quro/cpu.h) says so.
#ifndef QURO_POSE_KERNELS_H
#define QURO_POSE_KERNELS_H

#include <cstddef>

#include "quro/quro.h"

namespace quro {

// Bounding box of rounded posed positions (min > max when no point was posed). A plain aggregate:
// this header is compiled into the AVX2 kernel, which must not share inline code with the rest.
struct PoseBox {
    int min_x;
    int min_y;
    int max_x;
    int max_y;
};

// Poses `count` points in[0], in[stride], in[2 * stride], ... into out[0 .. count): float
// positions (pose_position), rotated stored directions (rotate_direction), and returns the box of
// the positions rounded by round_posed. The transforms pick the version.
PoseBox pose_features_scalar(const Feature* in, std::size_t stride, std::size_t count, float c,
                             float s, float scale_row, float scale_col, Feature* out);
PoseBox pose_features_avx2(const Feature* in, std::size_t stride, std::size_t count, float c,
                           float s, float scale_row, float scale_col, Feature* out);

}  // namespace quro

#endif  // QURO_POSE_KERNELS_H
