// Moves a point from a model's frame into the image by a match's pose.
#include <cmath>

#include "quro/numeric.h"
#include "quro/quro.h"

extern "C" QURO_API void set_match_result_offset(const quro::Match* m, float dx, float dy, float* x,
                                                 float* y) {
    if (m == nullptr || x == nullptr || y == nullptr) return;
    const float a = m->angle * quro::kDegToRad;
    const float c = std::cos(a);
    const float s = std::sin(a);
    // Model offsets count rows upwards: a positive dy moves the point to smaller rows.
    *x = static_cast<float>(m->x) + m->dx + c * dx - s * dy;
    *y = static_cast<float>(m->y) + m->dy - s * dx - c * dy;
}
