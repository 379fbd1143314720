#include "quro/create/outline_shapes.h"

#include <cmath>
#include <cstdint>

#include "quro/create/outline_levels.h"
#include "quro/numeric.h"
#include "quro/status.h"

namespace quro {
namespace {

// Visits t = i / step_radius for i = 0, 1, ... while t < 2 pi. The counter is an integer, so the
// count does not depend on accumulated rounding.
template <class Visit>
void for_each_turn_step(float step_radius, Visit&& visit) {
    if (!(step_radius > 0.f)) return;
    for (std::int64_t i = 0;; ++i) {
        const float t = static_cast<float>(i) / step_radius;
        if (!(t < kTwoPiF)) break;
        visit(t);
    }
}

}  // namespace

std::vector<Feature> circle_outline(float r) {
    std::vector<Feature> pts;
    for_each_turn_step(r, [&](float t) {
        const float s = std::sin(t);
        const float c = std::cos(t);
        pts.emplace_back(-r * s, -r * c, s, c);
    });
    return pts;
}

std::vector<Feature> ellipse_outline(float ra, float rb) {
    std::vector<Feature> pts;
    const float k = (ra * ra) / (rb * rb);
    for_each_turn_step(ra, [&](float t) {
        const float x = ra * std::sin(t);
        const float y = rb * std::cos(t);
        // At x = 0 the quotient would be infinite and its arc tangent -+pi/2 (by the sign of y):
        // the normal is vertical there.
        const float q = x != 0.f ? std::atan(-k * y / x) : (y > 0.f ? -kHalfPiF : kHalfPiF);
        const float phi = q + (x >= 0.f ? -kHalfPiF : kHalfPiF);
        pts.emplace_back(x, y, std::sin(phi), std::cos(phi));
    });
    return pts;
}

std::vector<Feature> rectangle_outline(float a, float b) {
    std::vector<Feature> pts;
    const int na = static_cast<int>(2.f * a);
    const int nb = static_cast<int>(2.f * b);
    const float w = 2.f * a;
    const float h = 2.f * b;
    // Built in a frame whose corner is (0, 0), then moved by (-a, -b).
    auto put = [&](float x, float y, float gx, float gy) {
        pts.emplace_back(x - a, y - b, gx, gy);
    };
    for (int i = 1; i <= nb - 1; ++i) put(0.f, static_cast<float>(i), 1.f, 0.f);
    for (int i = 1; i <= na - 1; ++i) put(static_cast<float>(i), h, 0.f, -1.f);
    for (int i = nb - 1; i >= 1; --i) put(w, static_cast<float>(i), -1.f, 0.f);
    for (int i = na - 1; i >= 1; --i) put(static_cast<float>(i), 0.f, 0.f, 1.f);
    return pts;
}

int cross_outline(float a, float c, std::vector<Feature>& out) {
    const SignedSegment edges[8] = {
        {-c, -a, -c, -c, -1}, {-a, -c, -c, -c, 1}, {c, -a, c, -c, 1}, {c, -c, a, -c, 1},
        {-c, c, -c, a, -1},   {-a, c, -c, c, -1},  {c, c, c, a, 1},   {c, c, a, c, -1},
    };
    for (const SignedSegment& e : edges)
        if (segment_to_features(e.sign, out, e.x0, e.y0, e.x1, e.y1) != 0) return kFailed;
    return kOk;
}

int segment_pair_outline(const SignedSegment& first, const SignedSegment& second,
                         std::vector<Feature>& out) {
    for (const SignedSegment* e : {&first, &second})
        if (segment_to_features(e->sign, out, e->x0, e->y0, e->x1, e->y1) != 0) return kFailed;
    return kOk;
}

}  // namespace quro
