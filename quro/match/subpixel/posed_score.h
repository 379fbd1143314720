// The score of a level's model at a pose between pixels: the level's points (sampled as the
// search's templates sample them, normal_template_sampled with the given point step) posed without
// rounding at the given angle and scales, moved to (x, y) in the level's image (the maps are read at
// x + border, y + border), on the normal maps read bilinearly. The mean dot product (its magnitude
// for metric 0), negated for reversed contrast (flag other than 1); points whose four pixels are not
// all inside the maps add 0. Used by the peak fits where whole-pixel windows are too coarse.
#ifndef QURO_MATCH_SUBPIXEL_POSED_SCORE_H
#define QURO_MATCH_SUBPIXEL_POSED_SCORE_H

#include <functional>
#include <vector>

#include "quro/match/refine/refine_level.h"
#include "quro/match/refine/window_score.h"
#include "quro/match/templates.h"

namespace quro {

class PosedScore {
public:
    PosedScore(const RefineLevel& lvl, int flag, int point_step);

    // Poses the template (angle in degrees); false for a template without points.
    bool pose(float scale_row, float scale_col, float angle);
    // The posed template's score at (x, y); pose() must have succeeded.
    float at(double x, double y) const;

private:
    const RefineLevel& lvl_;
    NormalMapsRef maps_;
    bool positive_;
    int point_step_;
    NormalTemplate t_;
    std::vector<float> xf_;
    std::vector<float> yf_;
};

// The centre of a profile f(i), i = -max_samples..max_samples, read through `sample` (false: no
// value): from i = 0 uphill to the peak (lower i first), then outwards on both sides to the first
// sample below `crossing` times the peak, each crossing placed linearly between the two samples
// around it; the midpoint of the two crossings, in units of i. False when a side does not fall that
// far within max_samples, a sample has no value or the peak is not positive.
bool profile_centre(const std::function<bool(int, float&)>& sample, int max_samples,
                    float crossing, float& t);

}  // namespace quro

#endif  // QURO_MATCH_SUBPIXEL_POSED_SCORE_H
