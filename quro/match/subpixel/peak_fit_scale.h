// The scales inside the sub-pixel peak fit (sub-pixel mode 1) of the scaled and anisotropic
// searches. The level's scale walks (scale_refine.h) measure at the angle the level above gave and
// at whole pixels, and the peak fit (peak_fit.h) moves position and angle only: without this step
// a scale stayed up to half a scale step off (0.004 RMS on photo scenes).
//
// After the peak fit, the model is scored along a profile of scales through the match's scale,
// samples an eighth of the level's scale step apart, at the match's fitted angle and at its
// sub-pixel position (x + dx, y + dy): the level's points (sampled as the search's templates
// sample them, normal_template_sampled with step 0) posed without rounding, the normal maps read
// bilinearly; the mean dot product (its magnitude for metric 0), negated for reversed contrast
// (flag other than 1). From the match's scale the profile is followed uphill to its peak, then on
// both sides down to 0.95 of the peak; the new scale is the midpoint of the two crossings (each
// placed linearly between the samples around it), clamped to the record's range. A profile that
// does not fall that far within two scale steps of the start on a side, a level with cells, an
// unusable step or a template without points leaves the scale as it was. Only scale_row and
// scale_col are written; the score never. Safe to call concurrently for different candidates.
#ifndef QURO_MATCH_SUBPIXEL_PEAK_FIT_SCALE_H
#define QURO_MATCH_SUBPIXEL_PEAK_FIT_SCALE_H

#include "quro/match/refine/refine_level.h"
#include "quro/quro.h"

namespace quro {

// Uniform scale: one profile with both scales moving together; scale_col = scale_row on success,
// within [scale_min, scale_max].
void fit_peak_scale(const RefineLevel& lvl, float scale_step, Match& cand);

// Row and column scales, each on its own profile through the match's pair (the other scale held),
// with its own step, clamped to its own record range; a scale whose step is unusable or whose
// profile gives no centre keeps its value.
void fit_peak_scales_aniso(const RefineLevel& lvl, float row_step, float column_step,
                           Match& cand);

}  // namespace quro

#endif  // QURO_MATCH_SUBPIXEL_PEAK_FIT_SCALE_H
