// Pure helpers of the deformable search command: on which pyramid level a search stops, and how
// a full-resolution point moves under a match's deformation field.
#ifndef TESSOLIN_FIND_MODES_H
#define TESSOLIN_FIND_MODES_H

#include <array>

#include "quro/quro.h"

namespace tessolin {

// The pyramid level (0 = full resolution) that a search of a model with num_levels levels stops
// on, for the dialog's level pair {first, last} (1-based; first outside 1..num_levels means all
// levels, last outside 1..first means full resolution) and sub-pixel code: the least-squares mode 3
// stops one level above full resolution when more than two levels are searched. 0 when num_levels
// is below 1.
int LastSearchedLevel(int num_levels, const int levels[2], int subpixel);

// Where outline point (px, py) (relative to the reference point, full-resolution pixels) of match m
// lies under the match's deformation field. The field lives in the image of pyramid level `last`
// (its rectangle's top-left corner at (field.x, field.y) there) and holds the deformation beyond
// the match's pose: the point lies rigidly at (x + dx + px, y + dy + py), is sampled there divided
// by 2^last relative to the rectangle's corner (clamped to the maps), and moves by the bilinear
// displacement (sampled position minus position) times 2^last. Without a field (null, no maps, a
// side below 1) or for a non-finite point it stays at its rigid place.
std::array<float, 2> DeformedOutlinePoint(const quro::VectorField* field, int last,
                                          const quro::Match& m, float px, float py);

}  // namespace tessolin

#endif  // TESSOLIN_FIND_MODES_H
