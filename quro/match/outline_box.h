// The outline box of one model level, as the matching core passes it around.
#ifndef QURO_MATCH_OUTLINE_BOX_H
#define QURO_MATCH_OUTLINE_BOX_H

#include <array>

namespace quro {

// Six floats of one model level, in this order (note: not the order of the record's fields):
//   [0] box min x, [1] box max x, [2] box min y, [3] box max y -- the level's oriented outline
//       box in its own frame, relative to the model's reference point;
//   [4] model radius of the level;
//   [5] box angle in degrees (the rotation of the box's frame against the model's frame).
using OutlineBox = std::array<float, 6>;

}  // namespace quro

#endif  // QURO_MATCH_OUTLINE_BOX_H
