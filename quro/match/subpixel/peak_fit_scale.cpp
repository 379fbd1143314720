#include "quro/match/subpixel/peak_fit_scale.h"

#include <cmath>
#include <cstddef>

#include "quro/match/refine/walk_helpers.h"
#include "quro/match/subpixel/posed_score.h"

namespace quro {
namespace {

// Samples lie an eighth of the level's scale step apart (a quarter of a pixel at the outermost
// point), at most kMaxSamples of them on either side of the start: two steps.
constexpr float kSampleFraction = 0.125f;
constexpr int kMaxSamples = 16;
// The centre is that of the profile's crossings of this fraction of its peak. The profile is flat
// within a pixel of the edges (unit normals across the edge band) and falls steeply beyond: a
// parabola through samples around the peak stays near the middle sample, the crossings of a level
// just below the flat top do not.
constexpr float kCrossingLevel = 0.95f;

// The model's score for given scales at the match's angle, pixel and sub-pixel offset
// (posed_score.h, the search's default point sampling).
class ScaleProfile {
public:
    ScaleProfile(const RefineLevel& lvl, const Match& cand)
        : posed_(lvl, cand.flag, 0),
          angle_(cand.angle),
          x_(static_cast<double>(cand.x) + cand.dx),
          y_(static_cast<double>(cand.y) + cand.dy) {}

    // False for a template without points.
    bool score(float scale_row, float scale_col, float& out) {
        if (!posed_.pose(scale_row, scale_col, angle_)) return false;
        out = posed_.at(x_, y_);
        return true;
    }

    // The centre of the profile along (r, c) + i (dr, dc) (profile_centre, posed_score.h).
    bool centre(float r, float c, float dr, float dc, float& t) {
        return profile_centre(
            [&](int i, float& v) {
                return score(r + static_cast<float>(i) * dr, c + static_cast<float>(i) * dc, v);
            },
            kMaxSamples, kCrossingLevel, t);
    }

private:
    PosedScore posed_;
    float angle_;
    double x_;
    double y_;
};

float clamped(float v, float lo, float hi) {
    return v < lo ? lo : v > hi ? hi : v;
}

}  // namespace

void fit_peak_scale(const RefineLevel& lvl, float scale_step, Match& cand) {
    const float q = kSampleFraction * scale_step, s = cand.scale_row;
    if (lvl.uses_cells() || !usable_step(q) || !std::isfinite(s)) return;
    ScaleProfile profile(lvl, cand);
    float t = 0.f;
    if (!profile.centre(s, s, q, q, t)) return;
    cand.scale_row = clamped(s + t * q, lvl.rec->scale_min, lvl.rec->scale_max);
    cand.scale_col = cand.scale_row;
}

void fit_peak_scales_aniso(const RefineLevel& lvl, float row_step, float column_step,
                           Match& cand) {
    const float qr = kSampleFraction * row_step, qc = kSampleFraction * column_step;
    const float r = cand.scale_row, c = cand.scale_col;
    if (lvl.uses_cells() || !std::isfinite(r) || !std::isfinite(c)) return;
    const ShapeModelRecord& rec = *lvl.rec;
    ScaleProfile profile(lvl, cand);
    float t = 0.f;
    if (usable_step(qr) && profile.centre(r, c, qr, 0.f, t))
        cand.scale_row = clamped(r + t * qr, rec.scale_row_min, rec.scale_row_max);
    if (usable_step(qc) && profile.centre(r, c, 0.f, qc, t))
        cand.scale_col = clamped(c + t * qc, rec.scale_col_min, rec.scale_col_max);
}

}  // namespace quro
