// How well a model level tells its angles and positions apart: the level's self-similarity under
// rotation and under shifts. Models whose coarse levels look alike at many angles (round parts
// with a fine rim, gears, rows of repeated glyphs) lose the true angle on those levels; the
// descent re-seeds their angles on the first level that can tell them apart (level_loop.cpp).
// Models whose coarse levels look alike a few pixels off (lines of text, rows of glyphs) may be
// found there a period off, beyond the next level's position window; the next level also
// refines each candidate from those periods either side.
#ifndef QURO_SEARCH_CORE_ANGLE_PROFILE_H
#define QURO_SEARCH_CORE_ANGLE_PROFILE_H

#include <opencv2/core.hpp>
#include <vector>

#include "quro/model_table.h"

namespace quro {

// Similarity of model level `level` (1 = full resolution) with itself turned by `angle` degrees
// about the centroid of its points: the level's directions are spread into a field (each point's
// direction splatted bilinearly, then blurred with sigma 1 pixel, about the reach of a coarse
// level's edges and of the refinement's position window), and the turned points are scored
// against it as the search scores an image: the mean dot product of each turned direction with
// the field at its turned position, relative to the same sum at angle 0 (signed whatever the
// metric: a model is compared with itself). 1 at angle 0; near 1 at every angle for a plain or
// finely ribbed disc; small away from 0 for a model of distinct structure. 0 for a level without
// points.
float rotation_self_similarity(const ShapeModelRecord& rec, int level, float angle);

// The share of the angles 0, s, 2s, ... below 360 (s = the angle step of level `level`) lying
// more than two steps from 0 whose self-similarity is at least kFlatSimilarity: 0 for a model of
// distinct structure or for a gear whose teeth the level resolves, near 1 for a plain or finely
// ribbed disc. 0 for a level without points.
inline constexpr float kFlatSimilarity = 0.8f;
float alike_angle_fraction(const ShapeModelRecord& rec, int level);

// The level on which a search re-seeds its candidates' angles, when the top level looks alike at
// a quarter of its angles or more (kTopAlikeFraction): the 0-based index r (last <= r < top,
// pyramid indices as in a search's plan) of the first level below the top at which fewer than
// half of the angles look alike (kSeedAlikeFraction). -1 when the top level tells its angles
// apart, or no level down to `last` does: the descent then keeps the angles it finds.
inline constexpr float kTopAlikeFraction = 0.25f;
inline constexpr float kSeedAlikeFraction = 0.5f;
int angle_seed_level(const ShapeModelRecord& rec, int top, int last);

// The shifts (x, y in pixels of level `level`, in the model's frame; one of each pair t, -t)
// under which the level looks alike: the local maxima, on a half-pixel grid within
// kShiftReach pixels, of the self-similarity of the level's points moved by t (scored against
// its field as rotation_self_similarity scores turned points) that reach kShiftAlike and lie
// kMinAlikeShift or more from 0 (closer ones the next level's +-4 pixel window covers once
// doubled). Empty for a model of distinct structure, a level without points or one that is not
// built. Measured once per stored model (ShapeModelRecord::angle_profiles).
inline constexpr float kShiftAlike = 0.7f;
inline constexpr float kShiftReach = 8.f;
inline constexpr float kMinAlikeShift = 2.f;
std::vector<cv::Point2f> alike_shifts(const ShapeModelRecord& rec, int level);

// Whether a search of `rec` from `top` down to `last` (0-based) carries hypotheses that its
// coarse levels could not tell apart down to its last level: it re-seeds the angles
// (`seed_level`, from angle_seed_level, is 0 or more) or a level below the top refines
// candidates from alike shifts of the level above. Such a last level decides between poses that
// score within a few hundredths of each other, and scores at least kMinScoredPoints points.
bool carries_alike_poses(const ShapeModelRecord& rec, int seed_level, int top, int last);

}  // namespace quro

#endif  // QURO_SEARCH_CORE_ANGLE_PROFILE_H
